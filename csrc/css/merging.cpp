#include "css/merging.h"

namespace speech::css {

MergeCandidate best_merge_pair(int64_t count, const std::function<double(int64_t, int64_t)>& similarity) {
  MergeCandidate best;
  for (int64_t i = 0; i < count; ++i) {
    for (int64_t j = i + 1; j < count; ++j) {
      const double sim = similarity(i, j);
      if (sim > best.similarity) {
        best.similarity = sim;
        best.first = i;
        best.second = j;
      }
    }
  }
  return best;
}

bool should_merge(const MergeCandidate& candidate, double merge_threshold) {
  return candidate.found() && candidate.similarity >= merge_threshold;
}

template <typename T>
void sum_signals(const T* a, const T* b, int64_t length, T* out) {
  for (int64_t i = 0; i < length; ++i) out[i] = a[i] + b[i];
}

template void sum_signals<float>(const float*, const float*, int64_t, float*);
template void sum_signals<double>(const double*, const double*, int64_t, double*);

}  // namespace speech::css
