#include "tracker/speaker_matching.h"

#include <string>

#include "common/errors.h"

namespace speech::tracker {
namespace {

constexpr double kAllowance = 1e-6;

std::optional<double> seconds_of(const MatchSettings& settings, std::optional<double> speech_samples) {
  if (!speech_samples) return std::nullopt;
  return *speech_samples / settings.sample_rate;
}

// A store that was empty at the start of the call: every signal with an
// embedding founds a speaker unless it is poorly separated; speech length
// and the bars play no part.
std::vector<int64_t> found_store(const MatchSettings& settings, const std::vector<SignalEvidence>& signals,
                                 MatchCollaborators& collaborators) {
  std::vector<int64_t> ids;
  for (size_t k = 0; k < signals.size(); ++k) {
    const SignalEvidence& signal = signals[k];
    if (!signal.has_embedding) {
      ids.push_back(-1);
    } else if (is_poorly_separated(signal.quality_db, settings.max_inter_sisdr_for_update)) {
      collaborators.report(skip_creation_line(static_cast<int64_t>(k), *signal.quality_db));
      ids.push_back(-1);
    } else {
      ids.push_back(collaborators.create_speaker(static_cast<int64_t>(k)));
    }
  }
  return ids;
}

// One call against a store that holds speakers; every decision uses the
// similarities to the store as it was when the call began.
class StoreMatch {
 public:
  StoreMatch(const MatchSettings& settings, const std::vector<SignalEvidence>& signals,
             const std::vector<int64_t>& stored_ids, MatchCollaborators& collaborators)
      : settings_(settings),
        signals_(signals),
        stored_ids_(stored_ids),
        collaborators_(collaborators),
        columns_(stored_ids.size()) {}

  MatchResult run() {
    MatchResult result;
    result.similarities = similarity_matrix();
    report_matrix(result.similarities);
    ids_.assign(signals_.size(), -1);
    for (const auto& [row, column] : assigned_pairs(result.similarities)) {
      decide(static_cast<size_t>(row), static_cast<size_t>(column), result.similarities);
    }
    found_new_speakers();
    result.global_ids = ids_;
    return result;
  }

 private:
  // Rows of signals without an embedding stay 0.0.
  std::vector<double> similarity_matrix() {
    std::vector<double> matrix(signals_.size() * columns_, 0.0);
    for (size_t k = 0; k < signals_.size(); ++k) {
      if (!signals_[k].has_embedding) continue;
      for (size_t j = 0; j < columns_; ++j) {
        matrix[k * columns_ + j] = collaborators_.similarity(static_cast<int64_t>(k), static_cast<int64_t>(j));
      }
    }
    return matrix;
  }

  void report_matrix(const std::vector<double>& matrix) {
    collaborators_.report(matrix_header_line(static_cast<int64_t>(signals_.size()), static_cast<int64_t>(columns_)));
    for (size_t k = 0; k < signals_.size(); ++k) {
      collaborators_.report(matrix_row_line(static_cast<int64_t>(k), stored_ids_, matrix.data() + k * columns_,
                                            signals_[k].quality_db, seconds_of(settings_, signals_[k].speech_samples)));
    }
  }

  // The solver's pairs, refused when one names a row or column that does
  // not exist (it would read outside the matrix).
  std::vector<std::pair<int64_t, int64_t>> assigned_pairs(const std::vector<double>& similarities) {
    std::vector<double> cost(similarities.size());
    for (size_t i = 0; i < cost.size(); ++i) cost[i] = 1.0 - similarities[i];
    const int64_t rows = static_cast<int64_t>(signals_.size());
    const int64_t columns = static_cast<int64_t>(columns_);
    std::vector<std::pair<int64_t, int64_t>> pairs = collaborators_.assign(cost, rows, columns);
    for (const auto& [row, column] : pairs) {
      if (row < 0 || row >= rows || column < 0 || column >= columns) {
        throw common::ValueError("assignment pair (" + std::to_string(row) + ", " + std::to_string(column) +
                         ") lies outside the " + std::to_string(rows) + " x " + std::to_string(columns) +
                         " similarity matrix");
      }
    }
    return pairs;
  }

  // One assigned pair through the ladder; the signal's id stays -1 when it
  // waits for the new-speaker pass or is skipped.
  void decide(size_t row, size_t column, const std::vector<double>& similarities) {
    const SignalEvidence& signal = signals_[row];
    if (!signal.has_embedding) return;
    const double sim = similarities[row * columns_ + column];
    const int64_t matched = stored_ids_[column];
    const int64_t k = static_cast<int64_t>(row);
    const SignalJudgement judgement = judge_signal(settings_, signal);
    switch (decide_pair(sim, judgement)) {
      case PairDecision::kMatch: {
        const bool updated = collaborators_.update_speaker(matched, k);
        ids_[row] = matched;
        collaborators_.report(match_line(k, matched, sim, updated));
        break;
      }
      case PairDecision::kNewSpeakerMark:
        collaborators_.report(new_speaker_mark_line(k, matched, sim, judgement.similarity_threshold));
        break;
      case PairDecision::kForcedMatch:
        ids_[row] = matched;
        collaborators_.report(forced_match_line(k, matched, judgement.why, sim, judgement.low_similarity_threshold));
        break;
      case PairDecision::kSkip:
        collaborators_.report(skip_line(k, judgement.why, sim, judgement.low_similarity_threshold));
        break;
    }
  }

  // Reliable signals still without an id found speakers, in signal order.
  void found_new_speakers() {
    for (size_t k = 0; k < signals_.size(); ++k) {
      if (ids_[k] != -1 || !signals_[k].has_embedding) continue;
      const SignalJudgement judgement = judge_signal(settings_, signals_[k]);
      const int64_t signal = static_cast<int64_t>(k);
      if (judgement.reliable()) {
        ids_[k] = collaborators_.create_speaker(signal);
        collaborators_.report(new_speaker_line(signal, ids_[k]));
      } else {
        collaborators_.report(no_new_speaker_line(signal, judgement.why));
      }
    }
  }

  const MatchSettings& settings_;
  const std::vector<SignalEvidence>& signals_;
  const std::vector<int64_t>& stored_ids_;
  MatchCollaborators& collaborators_;
  const size_t columns_;
  std::vector<int64_t> ids_;
};

}  // namespace

SignalJudgement judge_signal(const MatchSettings& settings, const SignalEvidence& signal) {
  SignalJudgement judgement;
  judgement.low_quality = is_poorly_separated(signal.quality_db, settings.max_inter_sisdr_for_update);
  judgement.short_speech = is_short_speech(signal.speech_samples, settings.short_speech_samples);
  if (judgement.low_quality) judgement.why.low_quality_db = signal.quality_db;
  if (judgement.short_speech) judgement.why.short_speech_seconds = seconds_of(settings, signal.speech_samples);
  const double drop = judgement.short_speech ? settings.short_speech_threshold_drop : 0.0;
  judgement.similarity_threshold = settings.similarity_threshold - drop;
  judgement.low_similarity_threshold = settings.low_similarity_threshold - drop;
  return judgement;
}

PairDecision decide_pair(double similarity, const SignalJudgement& judgement) {
  if (similarity >= judgement.similarity_threshold - kAllowance) return PairDecision::kMatch;
  if (judgement.reliable()) return PairDecision::kNewSpeakerMark;
  if (similarity >= judgement.low_similarity_threshold - kAllowance) return PairDecision::kForcedMatch;
  return PairDecision::kSkip;
}

MatchResult match_signals(const MatchSettings& settings, const std::vector<SignalEvidence>& signals,
                          const std::vector<int64_t>& stored_ids, MatchCollaborators& collaborators) {
  if (stored_ids.empty()) return MatchResult{found_store(settings, signals, collaborators), {}};
  return StoreMatch(settings, signals, stored_ids, collaborators).run();
}

std::vector<int64_t> first_segment_ids(const std::vector<bool>& has_embedding,
                                       const std::function<int64_t(int64_t)>& create_speaker) {
  std::vector<int64_t> ids;
  for (size_t k = 0; k < has_embedding.size(); ++k) {
    ids.push_back(has_embedding[k] ? create_speaker(static_cast<int64_t>(k)) : -1);
  }
  return ids;
}

}  // namespace speech::tracker
