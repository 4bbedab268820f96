#pragma once
// Energy-gated speech detection of one separated signal: the frames whose
// mean square rises above an adaptive threshold, grouped into runs, widened
// by a margin, merged, and joined into one shorter signal for the speaker
// embedding model.
#include <cstdint>
#include <utility>
#include <vector>

#include "common/sample_view.h"

namespace speech::tracker {

struct SpeechDetectionConfig {
  int64_t frame_length = 400;
  int64_t hop_length = 160;
  int64_t margin_frames = 10;
  int64_t min_gap_frames = 5;
  double median_factor = 0.1;
  double mean_factor = 0.05;
  double threshold_floor = 1e-7;
};

struct SpeechDetection {
  // Frames analysed; zero or less when the signal is shorter than a frame.
  int64_t num_frames = 0;
  int64_t speech_frame_count = 0;
  // Sample ranges [begin, end) to join, in order; neighbouring ranges may
  // share samples, which then appear twice in the joined signal.
  std::vector<std::pair<int64_t, int64_t>> ranges;
  int64_t joined_length() const;
};

// Whether a detection leaves enough speech for the embedding model. Without
// it the result carries no embedding and reports `speech_samples`: 0 for a
// signal shorter than a frame or without any speech frame, else the speech
// frames times the hop (not the joined length). With it, `speech_samples`
// is the joined length.
struct SpeechGate {
  bool enough = false;
  int64_t speech_samples = 0;
};
SpeechGate gate_speech(const SpeechDetection& detection, int64_t min_speech_samples,
                       const SpeechDetectionConfig& config = {});

// Mean square of every whole frame, computed in T (the signal's own type);
// empty when the signal is shorter than one frame.
template <typename T>
std::vector<double> frame_energies(common::SampleView<const T> signal, const SpeechDetectionConfig& config = {});

// Threshold, runs, widening and merging over given frame energies of a signal
// of `size` samples.
SpeechDetection detect_from_energies(const std::vector<double>& energies, int64_t size,
                                     const SpeechDetectionConfig& config = {});

// Energies are computed in T (float or double), as the signal's own type.
template <typename T>
SpeechDetection detect_speech(common::SampleView<const T> signal, const SpeechDetectionConfig& config = {});

// The pieces of the signal in `ranges`, joined in order.
template <typename T>
std::vector<T> join_ranges(common::SampleView<const T> signal, const std::vector<std::pair<int64_t, int64_t>>& ranges);

}  // namespace speech::tracker
