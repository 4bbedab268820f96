#pragma once
// Sums of per-sample terms in NumPy's order (runs of its 8192-element buffer,
// each summed pairwise over blocks of 128 with eight partial sums), so a level
// computed here agrees to the last bit with the array expression it stands
// for, without materialising the terms.
#include <algorithm>
#include <cstdint>

namespace speech::mixsim {

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

}  // namespace speech::mixsim
