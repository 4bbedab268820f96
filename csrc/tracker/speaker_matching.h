#pragma once
// Matching of one window's signals to the global speaker store: the
// similarity matrix over the signals that have an embedding, a one-to-one
// assignment of signals to stored speakers, a ladder of threshold tests for
// every assigned pair, and a last pass that founds new speakers. The store,
// the similarity measure and the assignment solver stay the caller's; the
// ladder reaches them through MatchCollaborators, in the order the console
// report needs.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tracker/match_report.h"
#include "tracker/signal_reliability.h"

namespace speech::tracker {

// The tracker fields the ladder reads.
struct MatchSettings {
  double similarity_threshold = 0.6;
  double low_similarity_threshold = 0.22;
  double short_speech_threshold_drop = 0.05;
  double max_inter_sisdr_for_update = -10.0;  // dB
  double short_speech_samples = 12800.0;
  double sample_rate = 16000.0;  // only to print speech lengths in seconds
};

// What is known of one signal of the window.
struct SignalEvidence {
  bool has_embedding = false;            // present and finite
  std::optional<double> quality_db;      // its separation_quality, when given
  std::optional<double> speech_samples;  // its detected speech, when given
};

struct SignalJudgement {
  bool low_quality = false;
  bool short_speech = false;
  Unreliability why;
  // Both bars, lowered for short speech.
  double similarity_threshold = 0.0;
  double low_similarity_threshold = 0.0;
  bool reliable() const { return !low_quality && !short_speech; }
};
SignalJudgement judge_signal(const MatchSettings& settings, const SignalEvidence& signal);

enum class PairDecision {
  kMatch,           // at or above the upper bar: the stored speaker, with an update attempt
  kNewSpeakerMark,  // reliable but below it: a new speaker in the last pass
  kForcedMatch,     // unreliable, at or above the low bar: the stored speaker, no update
  kSkip,            // unreliable and below the low bar: no speaker
};
// Both bars allow one millionth, so a similarity just short of a bar passes.
PairDecision decide_pair(double similarity, const SignalJudgement& judgement);

class MatchCollaborators {
 public:
  virtual ~MatchCollaborators() = default;
  // Similarity of signal `signal`'s embedding with the `column`-th stored speaker.
  virtual double similarity(int64_t signal, int64_t column) = 0;
  // (row, column) pairs of a minimum-cost assignment over `cost`
  // (rows x columns, row-major), in ascending row order.
  virtual std::vector<std::pair<int64_t, int64_t>> assign(const std::vector<double>& cost, int64_t rows,
                                                          int64_t columns) = 0;
  // Offers signal `signal`'s embedding to stored speaker `global_id`; true
  // when the stored embedding was replaced.
  virtual bool update_speaker(int64_t global_id, int64_t signal) = 0;
  // Stores signal `signal`'s embedding as a new speaker; returns its id.
  virtual int64_t create_speaker(int64_t signal) = 0;
  virtual void report(const std::string& line) = 0;
};

struct MatchResult {
  std::vector<int64_t> global_ids;  // one per signal, -1 for none
  // signals x stored speakers, row-major; empty when the store was empty.
  std::vector<double> similarities;
};

// Ids for the signals of a later window against the speakers stored under
// `stored_ids` (ascending). The store line is the caller's; everything
// after it is reported here.
MatchResult match_signals(const MatchSettings& settings, const std::vector<SignalEvidence>& signals,
                          const std::vector<int64_t>& stored_ids, MatchCollaborators& collaborators);

// Ids for the first window of a recording: a new speaker for every signal
// with an embedding, -1 for the others.
std::vector<int64_t> first_segment_ids(const std::vector<bool>& has_embedding,
                                       const std::function<int64_t(int64_t)>& create_speaker);

}  // namespace speech::tracker
