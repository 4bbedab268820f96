#pragma once
// Audio file access through libsndfile. Writes are 16-bit PCM WAV (or 32-bit
// float where asked) with clipping switched on, so loud samples saturate
// instead of wrapping around.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"

struct sf_private_tag;

namespace speech::common {

enum class WavSubtype { kPcm16, kFloat };

// Writes `frames` x `channels` interleaved samples, the only way a wav is
// written: under a temporary name in the path's folder (sibling_temporary.h),
// renamed into place once complete, so the path never names a partial file.
// On failure what it held stays and the temporary is removed; temporaries
// of this path that killed writes left are removed first. Errors name the
// path, never the temporary.
void write_wav(const std::string& path, const float* samples, int64_t frames, int channels,
               int sample_rate, WavSubtype subtype = WavSubtype::kPcm16);
void write_wav(const std::string& path, const double* samples, int64_t frames, int channels,
               int sample_rate, WavSubtype subtype = WavSubtype::kPcm16);

struct AudioData {
  std::vector<double> samples;  // interleaved, frames x channels
  int64_t frames = 0;
  int channels = 0;
  int sample_rate = 0;
};

// A file that libsndfile could not open, read or write. Its message names
// the file as libsndfile's own messages do: "Error opening '<path>': " and
// libsndfile's text for the failure (the path as file-system bytes). A
// caller that words the message about the file itself takes `reason`.
struct SndfileError : OSError {
  SndfileError(const char* action, std::string path, std::string reason)
      : OSError("Error " + std::string(action) + " '" + path + "': " + reason),
        path(std::move(path)),
        reason(std::move(reason)) {}

  std::string path;
  std::string reason;  // libsndfile's own text
};

// Reads any format libsndfile knows. Throws SndfileError naming the file on
// failure, also for a FIFO, socket or device, which are never opened.
AudioData read_audio(const std::string& path);

// Channel 0 of the interleaved samples, converted to T, into out[0, frames).
template <typename T>
void copy_first_channel(const AudioData& audio, T* out) {
  const auto step = static_cast<size_t>(audio.channels);
  for (int64_t i = 0; i < audio.frames; ++i) out[i] = static_cast<T>(audio.samples[static_cast<size_t>(i) * step]);
}

// Closes a libsndfile handle; every handle we open is held with it.
struct SndfileCloser {
  void operator()(sf_private_tag* file) const;
};

// One audio file open for reading, frames taken in the caller's sample type
// straight into the caller's buffer (libsndfile converts and scales).
class AudioFileReader {
 public:
  // Throws SndfileError, also for a FIFO, socket or device, which are never
  // opened (reading one can block for ever).
  explicit AudioFileReader(const std::string& path);
  int64_t frames() const { return frames_; }
  int channels() const { return channels_; }
  int sample_rate() const { return sample_rate_; }
  // libsndfile's format word (container and sample encoding).
  int format() const { return format_; }
  // Moves to frame `frame`; throws SndfileError when libsndfile cannot.
  void seek(int64_t frame);
  // Reads up to `frames` interleaved frames; returns how many were read.
  // Throws SndfileError when libsndfile reports an error.
  int64_t read(float* out, int64_t frames);
  int64_t read(double* out, int64_t frames);
  int64_t read(int16_t* out, int64_t frames);
  int64_t read(int32_t* out, int64_t frames);

 private:
  std::string path_;
  std::unique_ptr<sf_private_tag, SndfileCloser> file_;
  int64_t frames_ = 0;
  int channels_ = 0;
  int sample_rate_ = 0;
  int format_ = 0;
};

}  // namespace speech::common
