#pragma once
// Reads one stretch of an audio file's first channel through libsndfile,
// for a segment cropped from a long utterance: only the frames the crop is
// made from are read, converted or decoded. PCM and float WAV data, and
// FLAC, seek to the exact frame, so the stretch holds the samples a
// whole-file read has at those frames.
#include <cstdint>
#include <optional>
#include <string>

#include "common/wav_io.h"
#include "mixsim/signal_faults.h"

namespace speech::mixsim {

class SegmentReader {
 public:
  // Throws OSError when libsndfile cannot open the file.
  explicit SegmentReader(const std::string& path) : file_(path) {}

  int64_t frames() const { return file_.frames(); }
  int channels() const { return file_.channels(); }
  int sample_rate() const { return file_.sample_rate(); }

  // WAV (or WAVEX, RF64) holding PCM or float samples, or FLAC.
  bool seeks_exactly() const;

  // The first frame whose channel 0 is NaN or infinite (as float32), read
  // through the whole file in blocks. Integer encodings cannot hold one and
  // are not read. Throws OSError when libsndfile reports an error.
  std::optional<NonFiniteSample> first_non_finite_frame();

  // Channel 0 of frames [start, start + count) into out[0, count); frames
  // the file does not deliver are left as zeros. Throws OSError when
  // libsndfile reports an error.
  void read_first_channel(int64_t start, int64_t count, float* out);

 private:
  common::AudioFileReader file_;
};

}  // namespace speech::mixsim
