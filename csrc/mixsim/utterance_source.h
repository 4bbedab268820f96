#pragma once
// What a source's segment is cut from: the utterance's samples in memory, or
// its file held open so that only the frames the segment is made from are
// read; at the stream's rate, or at the file's own and resampled over the
// segment only, each sample equal to that of the whole utterance resampled.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/sample_view.h"
#include "mixsim/segment_reader.h"

namespace speech::mixsim {

struct UtteranceSource {
  common::SampleView<const float> samples;  // in memory, when no file is held
  std::unique_ptr<SegmentReader> reader;
  std::optional<double> file_rate;  // set while at the file's own rate
  double target_rate = 0.0;

  // Samples at the target rate.
  int64_t length() const;
  // out[0, L): samples [start, start + L) at the target rate, zero-padded
  // past the end. OSError when a held file cannot be read after all.
  void crop(int64_t start, int64_t L, float* out) const;
};

// The file at `path` held open for its crop, when it seeks exactly (PCM or
// float WAV, FLAC) and holds frames; at another rate than `target_rate`, when
// resampling it would not refuse its shape. Nothing otherwise, or when
// libsndfile cannot open it (the whole-file read then reports that).
std::optional<UtteranceSource> open_for_crop(const std::string& path, double target_rate);

// Samples in memory (borrowed, side by side) at the stream's rate.
UtteranceSource in_memory(common::SampleView<const float> samples);
// The same at `file_rate`, resampled over each crop when that is not the
// target's; nothing when resampling them would fail.
std::optional<UtteranceSource> in_memory_at(common::SampleView<const float> samples, double file_rate, double target_rate);

}  // namespace speech::mixsim
