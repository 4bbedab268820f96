#include "mixsim/utterance_source.h"

#include <algorithm>
#include <vector>

#include "common/errors.h"
#include "mixsim/segment_ops.h"
#include "mixsim/utterance_crop.h"

namespace speech::mixsim {

int64_t UtteranceSource::length() const {
  const int64_t n = reader ? reader->frames() : samples.size();
  if (!file_rate) return n;
  return resampled_utterance_length(n, *file_rate, target_rate);
}

void UtteranceSource::crop(int64_t start, int64_t L, float* out) const {
  if (!reader) {
    if (file_rate) return crop_resampled_utterance(samples, *file_rate, target_rate, start, L, out);
    return crop_or_pad(samples, start, L, out);
  }
  const int64_t frames = reader->frames();
  if (!file_rate) {
    const int64_t kept = std::max<int64_t>(0, std::min(L, frames - start));
    reader->read_first_channel(start, kept, out);
    std::fill(out + kept, out + L, 0.0f);
    return;
  }
  const resample::SampleStretch have = frames_for_crop(frames, *file_rate, target_rate, start, L);
  std::vector<float> stretch(static_cast<size_t>(have.end - have.first));
  reader->read_first_channel(have.first, have.end - have.first, stretch.data());
  crop_resampled_frames(common::samples_of(stretch), have, frames, *file_rate, target_rate, start, L, out);
}

std::optional<UtteranceSource> open_for_crop(const std::string& path, double target_rate) {
  UtteranceSource source;
  try {
    source.reader = std::make_unique<SegmentReader>(path);
  } catch (const common::OSError&) {
    return std::nullopt;
  }
  if (!source.reader->seeks_exactly() || source.reader->frames() == 0) return std::nullopt;
  const double file_rate = source.reader->sample_rate();
  if (file_rate != target_rate) {
    try {
      check_utterance_resampling_shape(source.reader->frames(), file_rate, target_rate);
    } catch (const common::ValueError&) {
      return std::nullopt;
    }
    source.file_rate = file_rate;
    source.target_rate = target_rate;
  }
  return source;
}

UtteranceSource in_memory(common::SampleView<const float> samples) {
  UtteranceSource source;
  source.samples = samples;
  return source;
}

std::optional<UtteranceSource> in_memory_at(common::SampleView<const float> samples, double file_rate, double target_rate) {
  UtteranceSource source = in_memory(samples);
  if (samples.empty() || file_rate == target_rate) return source;
  try {
    check_utterance_resampling(samples, file_rate, target_rate);
  } catch (const common::ValueError&) {
    return std::nullopt;
  }
  source.file_rate = file_rate;
  source.target_rate = target_rate;
  return source;
}

}  // namespace speech::mixsim
