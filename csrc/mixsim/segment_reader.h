#pragma once
// Reads one stretch of a WAV file's first channel through libsndfile, for a
// segment cropped from a long utterance: only the frames the crop keeps are
// read and converted. PCM and float WAV data seek to the exact frame, so
// the stretch holds the samples a whole-file read has at those frames.
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>

namespace speech::mixsim {

class SegmentReader {
 public:
  // Throws OSError when libsndfile cannot open the file.
  explicit SegmentReader(const std::string& path);

  int64_t frames() const { return frames_; }
  int channels() const { return channels_; }
  int sample_rate() const { return sample_rate_; }

  // WAV (or WAVEX, RF64) holding PCM or float samples.
  bool seeks_exactly() const;

  // Channel 0 of frames [start, start + count) into out[0, count); frames
  // the file does not deliver are left as zeros. Throws OSError when
  // libsndfile reports an error.
  void read_first_channel(int64_t start, int64_t count, float* out);

 private:
  std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file_;
  int64_t frames_ = 0;
  int channels_ = 0;
  int sample_rate_ = 0;
  int format_ = 0;
};

}  // namespace speech::mixsim
