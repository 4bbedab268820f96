#pragma once
// The pair scan of duplicate-signal merging and the sum of a merged pair.
#include <cstdint>
#include <functional>

namespace speech::css {

struct MergeCandidate {
  double similarity = -1.0;  // best similarity seen; the scan starts from -1
  int64_t first = -1;        // positions in the current lists, first < second
  int64_t second = -1;
  bool found() const { return first >= 0; }
};

// Scans every pair i < j in row order and keeps the first strictly greater
// similarity, so ties go to the earliest pair. With every similarity at -1
// or NaN no pair is found.
MergeCandidate best_merge_pair(int64_t count, const std::function<double(int64_t, int64_t)>& similarity);

// A pair merges when one was found and its similarity reaches the threshold
// (an equal value merges). Without a pair nothing merges, whatever the
// threshold, so a threshold at or below -1 cannot pick a non-existent pair.
bool should_merge(const MergeCandidate& candidate, double merge_threshold);

// Element-wise sum in the signals' own precision.
template <typename T>
void sum_signals(const T* a, const T* b, int64_t length, T* out);

}  // namespace speech::css
