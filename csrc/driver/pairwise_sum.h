#pragma once
// Summation in the element type with NumPy's pairwise scheme (blocks of 128,
// eight running partial sums), so means and RMS levels computed here agree
// bit for bit with the interpreter-side NumPy expressions they stand for.
#include <algorithm>
#include <cstdint>

namespace speech {

template <typename T>
T pairwise_sum(const T* data, int64_t n) {
  constexpr int64_t kBlock = 128;
  if (n < 8) {
    T res = 0;
    for (int64_t i = 0; i < n; ++i) res += data[i];
    return res;
  }
  if (n <= kBlock) {
    T r[8];
    for (int k = 0; k < 8; ++k) r[k] = data[k];
    int64_t i = 8;
    for (; i < n - (n % 8); i += 8) {
      for (int k = 0; k < 8; ++k) r[k] += data[i + k];
    }
    T res = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
    for (; i < n; ++i) res += data[i];
    return res;
  }
  int64_t half = n / 2;
  half -= half % 8;
  return pairwise_sum(data, half) + pairwise_sum(data + half, n - half);
}

// NumPy's sum reduction of a contiguous float array: it feeds the pairwise
// loop in runs of its buffer size (8192 elements) and adds the partial sums
// in order.
template <typename T>
T numpy_sum(const T* data, int64_t n) {
  constexpr int64_t kBuffer = 8192;
  T sum = 0;
  for (int64_t i = 0; i < n; i += kBuffer) sum += pairwise_sum(data + i, std::min(kBuffer, n - i));
  return sum;
}

// NumPy's mean of a float array: the sum in the element type, then a division
// carried out in double and rounded back to the element type. NaN for no
// elements.
template <typename T>
T numpy_mean(const T* data, int64_t n) {
  const T sum = numpy_sum(data, n);
  return static_cast<T>(static_cast<double>(sum) / static_cast<double>(n));
}

}  // namespace speech
