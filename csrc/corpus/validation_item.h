#pragma once
// The audio side of one validation item: each file decoded by libsndfile
// with its defaults (64-bit floats, integer PCM scaled into [-1, 1)), first
// channel only, at the file's own rate.
#include <cstdint>
#include <string>
#include <vector>

namespace speech::corpus {

struct ChannelSignal {
  std::vector<double> samples;
  int sample_rate = 0;
};

// Throws std::runtime_error with libsndfile's text for an unreadable file.
ChannelSignal read_first_channel(const std::string& path);

// The frame count shared by the reference signals; a mismatch is refused
// with the tensor library's own concatenation text.
int64_t common_length(const std::vector<int64_t>& lengths);

}  // namespace speech::corpus
