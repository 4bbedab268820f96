#pragma once
// Merging of a window's signals whose embeddings are alike: the similarity
// report, the pair scan, the threshold test and the bookkeeping of merged
// pairs. Sums and their embeddings are the caller's, reached through
// MergeCollaborators.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/sample_view.h"

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

// Element-wise sum in the signals' own precision, into out[0, a.size()).
// Both signals are equally long, each side by side.
template <typename T>
void sum_signals(common::SampleView<const T> a, common::SampleView<const T> b, T* out);

// What travels with a signal into the tracker; a merged signal takes the
// larger of its members' values.
struct MergeEntry {
  double quality = 0.0;
  double speech_samples = 0.0;
};

// Which member's value the merged signal takes: the second only when it is
// strictly greater.
struct MergePick {
  bool quality_from_second = false;
  bool speech_from_second = false;
};
MergePick larger_values(const MergeEntry& first, const MergeEntry& second);

class MergeCollaborators {
 public:
  virtual ~MergeCollaborators() = default;
  // Similarity of the embeddings at positions i and j of the current lists.
  virtual double similarity(int64_t i, int64_t j) = 0;
  // Sums the signals at `first` and `second` and embeds the sum; false when
  // the sum got no usable embedding.
  virtual bool embed_sum(int64_t first, int64_t second) = 0;
  // Position `first` takes the sum just embedded, with the picked values;
  // position `second` leaves the lists, so the later signals move up.
  virtual void take_sum(int64_t first, int64_t second, const MergePick& pick) = 0;
  virtual void report(const std::string& line) = 0;
};

// Merges the best pair while more than one signal is left and the pair
// reaches the threshold, reporting every step; a sum without a usable
// embedding ends merging with the pair left as it was. One signal or none:
// nothing is reported. `threshold_text` is the threshold as it is printed.
void merge_alike_signals(std::vector<MergeEntry>& entries, double merge_threshold, const std::string& threshold_text,
                         MergeCollaborators& collaborators);

}  // namespace speech::css
