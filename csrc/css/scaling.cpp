#include "css/scaling.h"

#include <stdexcept>

#include "css/lane_sum.h"

namespace speech::css {

CenteredMixture center_mixture(common::SampleView<const float> mixture) {
  const float* mix = mixture.contiguous_data();
  const int64_t length = mixture.size();
  const double total = lane_sum(length, [&](int64_t i) { return static_cast<double>(mix[i]); });
  return CenteredMixture{mixture, static_cast<float>(total / static_cast<double>(length))};
}

template <typename T>
void scale_row_to_mixture(common::SampleView<const T> row_samples, const CenteredMixture& mixture, double eps, T* out) {
  const int64_t n = mixture.samples.size();
  if (row_samples.size() != n) throw std::invalid_argument("an output row must be as long as the window mixture");
  const T* row = row_samples.contiguous_data();
  const double total = lane_sum(n, [&](int64_t i) { return static_cast<double>(row[i]); });
  const T mean = static_cast<T>(total / static_cast<double>(n));
  const float* mix = mixture.samples.data();
  const float mix_mean = mixture.mean;
  const T dot = static_cast<T>(lane_sum(n, [&](int64_t i) {
    const T centred = row[i] - mean;
    return static_cast<double>(centred * static_cast<T>(mix[i] - mix_mean));
  }));
  const T energy = static_cast<T>(lane_sum(n, [&](int64_t i) {
    const T centred = row[i] - mean;
    return static_cast<double>(centred * centred);
  }));
  const T gain = dot / (energy + static_cast<T>(eps));
  for (int64_t i = 0; i < n; ++i) out[i] = gain * row[i];
}

template void scale_row_to_mixture<float>(common::SampleView<const float>, const CenteredMixture&, double, float*);
template void scale_row_to_mixture<double>(common::SampleView<const double>, const CenteredMixture&, double, double*);

}  // namespace speech::css
