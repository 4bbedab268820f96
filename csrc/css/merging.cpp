#include "css/merging.h"

#include <stdexcept>

#include "css/messages.h"

namespace speech::css {
namespace {

// The full square, so each pair's similarity is asked for twice.
void report_similarities(int64_t count, MergeCollaborators& collaborators) {
  collaborators.report(merge_matrix_title_line());
  for (int64_t i = 0; i < count; ++i) {
    std::vector<double> row(static_cast<size_t>(count), 0.0);
    for (int64_t j = 0; j < count; ++j) {
      if (j != i) row[static_cast<size_t>(j)] = collaborators.similarity(i, j);
    }
    collaborators.report(merge_matrix_row_line(i, row));
  }
}

}  // namespace

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
void sum_signals(common::SampleView<const T> a, common::SampleView<const T> b, T* out) {
  if (a.size() != b.size()) throw std::invalid_argument("signals to sum must be equally long");
  const T* x = a.contiguous_data();
  const T* y = b.contiguous_data();
  for (int64_t i = 0; i < a.size(); ++i) out[i] = x[i] + y[i];
}

template void sum_signals<float>(common::SampleView<const float>, common::SampleView<const float>, float*);
template void sum_signals<double>(common::SampleView<const double>, common::SampleView<const double>, double*);

MergePick larger_values(const MergeEntry& first, const MergeEntry& second) {
  return MergePick{second.quality > first.quality, second.speech_samples > first.speech_samples};
}

void merge_alike_signals(std::vector<MergeEntry>& entries, double merge_threshold, const std::string& threshold_text,
                         MergeCollaborators& collaborators) {
  if (entries.size() < 2) return;
  collaborators.report(merge_header_line(static_cast<int64_t>(entries.size()), threshold_text));
  report_similarities(static_cast<int64_t>(entries.size()), collaborators);
  int64_t merge_count = 0;
  while (entries.size() > 1) {
    const MergeCandidate pair = best_merge_pair(
        static_cast<int64_t>(entries.size()), [&](int64_t i, int64_t j) { return collaborators.similarity(i, j); });
    if (!should_merge(pair, merge_threshold)) {
      // Without any pair (every similarity -1 or NaN) a threshold at or
      // below -1 has nothing to merge and nothing to report as short of it.
      if (!(pair.similarity >= merge_threshold)) {
        collaborators.report(merge_stop_line(pair.similarity, threshold_text));
      }
      break;
    }
    ++merge_count;
    collaborators.report(merge_attempt_line(merge_count, pair.first, pair.second, pair.similarity, threshold_text));
    if (!collaborators.embed_sum(pair.first, pair.second)) {
      collaborators.report(merge_failure_line(merge_count));
      break;
    }
    MergeEntry& first = entries[static_cast<size_t>(pair.first)];
    const MergeEntry& second = entries[static_cast<size_t>(pair.second)];
    const MergePick pick = larger_values(first, second);
    collaborators.take_sum(pair.first, pair.second, pick);
    first = MergeEntry{pick.quality_from_second ? second.quality : first.quality,
                       pick.speech_from_second ? second.speech_samples : first.speech_samples};
    entries.erase(entries.begin() + pair.second);
    collaborators.report(merge_success_line(merge_count, static_cast<int64_t>(entries.size())));
  }
  if (merge_count > 0) {
    collaborators.report(merge_summary_line(merge_count, static_cast<int64_t>(entries.size())));
  }
}

}  // namespace speech::css
