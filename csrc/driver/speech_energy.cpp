#include "driver/speech_energy.h"

#include <algorithm>

#include "common/numpy_sum.h"

namespace speech::driver {

SliceRange slice_range(int64_t start, int64_t stop, int64_t length) {
  const auto adjust = [length](int64_t index) {
    if (index < 0) index += length;
    return std::clamp<int64_t>(index, 0, length);
  };
  SliceRange range{adjust(start), adjust(stop)};
  if (range.end < range.begin) range.end = range.begin;
  return range;
}

template <typename T>
SpeechEnergy speech_mean_energy(common::SampleView<const T> samples, const std::vector<SpeechSpan>& spans, double sample_rate) {
  std::vector<T> squares;
  bool kept = false;
  for (const SpeechSpan& span : spans) {
    if (span.end <= span.start) continue;
    kept = true;
    const SliceRange range = slice_range(span.start, span.end, samples.size());
    for (int64_t i = range.begin; i < range.end; ++i) {
      const T x = samples[i];
      squares.push_back(x * x);
    }
  }
  if (!kept) return {};
  const auto count = static_cast<int64_t>(squares.size());
  SpeechEnergy result;
  result.mean_energy = static_cast<double>(common::numpy_mean(common::samples_of(squares)));
  result.duration_sec = static_cast<double>(count) / sample_rate;
  return result;
}

template SpeechEnergy speech_mean_energy<float>(common::SampleView<const float>, const std::vector<SpeechSpan>&, double);
template SpeechEnergy speech_mean_energy<double>(common::SampleView<const double>, const std::vector<SpeechSpan>&, double);

}  // namespace speech::driver
