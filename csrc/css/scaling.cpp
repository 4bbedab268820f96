#include "css/scaling.h"

#include "css/lane_sum.h"

namespace speech::css {

CenteredMixture center_mixture(const float* mixture, int64_t length) {
  const double total = lane_sum(length, [&](int64_t i) { return static_cast<double>(mixture[i]); });
  return CenteredMixture{mixture, length, static_cast<float>(total / static_cast<double>(length))};
}

template <typename T>
void scale_row_to_mixture(const T* row, const CenteredMixture& mixture, double eps, T* out) {
  const int64_t n = mixture.length;
  const double total = lane_sum(n, [&](int64_t i) { return static_cast<double>(row[i]); });
  const T mean = static_cast<T>(total / static_cast<double>(n));
  const float* mix = mixture.samples;
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

template void scale_row_to_mixture<float>(const float*, const CenteredMixture&, double, float*);
template void scale_row_to_mixture<double>(const double*, const CenteredMixture&, double, double*);

}  // namespace speech::css
