#pragma once
// Audio file access through libsndfile. Writes are 16-bit PCM WAV (or 32-bit
// float where asked) with clipping switched on, so loud samples saturate
// instead of wrapping around.
#include <cstdint>
#include <string>
#include <vector>

namespace speech {

enum class WavSubtype { kPcm16, kFloat };

// Writes `frames` x `channels` interleaved samples.
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

// Reads any format libsndfile knows. Throws OSError naming the file on failure.
AudioData read_audio(const std::string& path);

}  // namespace speech
