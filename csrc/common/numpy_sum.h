#pragma once
// Sums in NumPy's order: runs of its 8192-element buffer, each summed
// pairwise over blocks of 128 with eight partial sums, in the element type.
// Means and levels computed with them agree to the last bit with the NumPy
// expressions they stand for; the term form sums per-sample terms without
// materialising them.
#include <algorithm>
#include <cstdint>

#include "common/sample_view.h"

namespace speech::common {

// One block of 8 to 128 terms: eight partial sums, term i going to sum
// i % 8 until the last whole group of eight, combined pairwise, then the
// rest added one by one.
template <typename T, typename Term>
T eight_partial_sums(int64_t begin, int64_t n, const Term& term) {
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

// The pairwise recursion with each block summed by block(begin, n), which
// must add as eight_partial_sums does (a vectorised form of it, say).
template <typename T, typename Term, typename Block>
T pairwise_terms_with(int64_t begin, int64_t n, const Term& term, const Block& block) {
  constexpr int64_t kBlock = 128;
  if (n < 8) {
    T res = 0;
    for (int64_t i = 0; i < n; ++i) res += term(begin + i);
    return res;
  }
  if (n <= kBlock) return block(begin, n);
  int64_t half = n / 2;
  half -= half % 8;
  return pairwise_terms_with<T>(begin, half, term, block) + pairwise_terms_with<T>(begin + half, n - half, term, block);
}

template <typename T, typename Term>
T pairwise_terms(int64_t begin, int64_t n, const Term& term) {
  return pairwise_terms_with<T>(begin, n, term,
                                [&term](int64_t b, int64_t k) { return eight_partial_sums<T>(b, k, term); });
}

template <typename T, typename Term, typename Block>
T numpy_order_sum_with(int64_t n, const Term& term, const Block& block) {
  constexpr int64_t kBuffer = 8192;
  T sum = 0;
  for (int64_t i = 0; i < n; i += kBuffer) sum += pairwise_terms_with<T>(i, std::min(kBuffer, n - i), term, block);
  return sum;
}

template <typename T, typename Term>
T numpy_order_sum(int64_t n, const Term& term) {
  return numpy_order_sum_with<T>(n, term,
                                 [&term](int64_t b, int64_t k) { return eight_partial_sums<T>(b, k, term); });
}

// The pairwise part alone, over one block of samples side by side.
template <typename T>
T pairwise_sum(SampleView<const T> x) {
  const T* data = x.contiguous_data();
  return pairwise_terms<T>(0, x.size(), [data](int64_t i) { return data[i]; });
}

// NumPy's sum reduction of a contiguous float array.
template <typename T>
T numpy_sum(SampleView<const T> x) {
  const T* data = x.contiguous_data();
  return numpy_order_sum<T>(x.size(), [data](int64_t i) { return data[i]; });
}

// NumPy's mean of a contiguous float array: the sum in the element type,
// then a division carried out in double and rounded back to the element
// type. NaN for no elements.
template <typename T>
T numpy_mean(SampleView<const T> x) {
  const T sum = numpy_sum(x);
  return static_cast<T>(static_cast<double>(sum) / static_cast<double>(x.size()));
}

}  // namespace speech::common
