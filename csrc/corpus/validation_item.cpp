#include "corpus/validation_item.h"

#include <stdexcept>

#include "common/errors.h"
#include "common/wav_io.h"

namespace speech::corpus {

ChannelSignal read_first_channel(const std::string& path) {
  common::AudioData audio;
  try {
    audio = common::read_audio(path);
  } catch (const common::OSError& error) {
    // The audio library's own failure, not an operating-system one.
    throw std::runtime_error(error.what());
  }
  ChannelSignal signal;
  signal.sample_rate = audio.sample_rate;
  signal.samples.resize(static_cast<size_t>(audio.frames));
  common::copy_first_channel(audio, signal.samples.data());
  return signal;
}

int64_t common_length(const std::vector<int64_t>& lengths) {
  if (lengths.empty()) return 0;
  for (size_t k = 1; k < lengths.size(); ++k) {
    if (lengths[k] != lengths[0]) {
      throw std::runtime_error("Sizes of tensors must match except in dimension 0. Expected size " +
                               std::to_string(lengths[0]) + " but got size " + std::to_string(lengths[k]) +
                               " for tensor number " + std::to_string(k) + " in the list.");
    }
  }
  return lengths[0];
}

}  // namespace speech::corpus
