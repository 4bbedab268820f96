#pragma once
// Sums over sample buffers with eight independent double accumulators: the
// work is element-wise over the lanes, so the compiler can vectorise it
// without reordering any single accumulator's additions.
#include <cstdint>

namespace speech::css {

inline constexpr int kSumLanes = 8;

template <typename Term>
double lane_sum(int64_t length, Term term) {
  double acc[kSumLanes] = {};
  int64_t i = 0;
  for (; i + kSumLanes <= length; i += kSumLanes) {
    for (int j = 0; j < kSumLanes; ++j) acc[j] += term(i + j);
  }
  double tail = 0.0;
  for (; i < length; ++i) tail += term(i);
  return (((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7]))) + tail;
}

}  // namespace speech::css
