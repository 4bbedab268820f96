#pragma once
// Sums in NumPy's order: runs of its 8192-element buffer, each summed
// pairwise over blocks of 128 with eight partial sums, in the element type.
// Means and levels computed with them agree to the last bit with the NumPy
// expressions they stand for; the term form sums per-sample terms without
// materialising them.
#include <algorithm>
#include <cstdint>

namespace speech {

template <typename T, typename Term>
T pairwise_terms(int64_t begin, int64_t n, const Term& term) {
  constexpr int64_t kBlock = 128;
  if (n < 8) {
    T res = 0;
    for (int64_t i = 0; i < n; ++i) res += term(begin + i);
    return res;
  }
  if (n <= kBlock) {
    T r[8];
    for (int k = 0; k < 8; ++k) r[k] = term(begin + k);
    int64_t i = 8;
    for (; i < n - (n % 8); i += 8) {
      for (int k = 0; k < 8; ++k) r[k] += term(begin + i + k);
    }
    T res = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
    for (; i < n; ++i) res += term(begin + i);
    return res;
  }
  int64_t half = n / 2;
  half -= half % 8;
  return pairwise_terms<T>(begin, half, term) + pairwise_terms<T>(begin + half, n - half, term);
}

template <typename T, typename Term>
T numpy_order_sum(int64_t n, const Term& term) {
  constexpr int64_t kBuffer = 8192;
  T sum = 0;
  for (int64_t i = 0; i < n; i += kBuffer) sum += pairwise_terms<T>(i, std::min(kBuffer, n - i), term);
  return sum;
}

// The pairwise part alone, over one block of data.
template <typename T>
T pairwise_sum(const T* data, int64_t n) {
  return pairwise_terms<T>(0, n, [data](int64_t i) { return data[i]; });
}

// NumPy's sum reduction of a contiguous float array.
template <typename T>
T numpy_sum(const T* data, int64_t n) {
  return numpy_order_sum<T>(n, [data](int64_t i) { return data[i]; });
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
