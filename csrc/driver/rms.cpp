#include "driver/rms.h"

#include <cmath>

#include "common/errors.h"
#include "common/numpy_sum.h"

namespace speech::driver {
namespace {

// Largest magnitude of n > 0 samples; NaN as soon as any sample is NaN, as
// NumPy's max propagates it.
template <typename T>
T peak_magnitude(const T* samples, int64_t n) {
  T peak = std::fabs(samples[0]);
  for (int64_t i = 1; i < n; ++i) {
    const T magnitude = std::fabs(samples[i]);
    if (std::isnan(magnitude)) return magnitude;
    if (magnitude > peak) peak = magnitude;
  }
  return peak;
}

}  // namespace

template <typename T>
T rms_level(common::SampleView<const T> samples) {
  const int64_t n = samples.size();
  std::vector<T> squares(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) squares[i] = samples[i] * samples[i];
  return std::sqrt(common::numpy_mean(common::samples_of(squares)));
}

template <typename T>
std::vector<T> scale_with_peak_limit(common::SampleView<const T> samples, double gain) {
  const int64_t n = samples.size();
  if (n == 0) throw common::ValueError("zero-size array to reduction operation maximum which has no identity");
  const T g = static_cast<T>(gain);
  std::vector<T> out(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) out[i] = samples[i] * g;
  const T peak = peak_magnitude(out.data(), n);
  if (peak > T(1)) {
    for (T& x : out) x /= peak;
  }
  return out;
}

template float rms_level<float>(common::SampleView<const float>);
template double rms_level<double>(common::SampleView<const double>);
template std::vector<float> scale_with_peak_limit<float>(common::SampleView<const float>, double);
template std::vector<double> scale_with_peak_limit<double>(common::SampleView<const double>, double);

}  // namespace speech::driver
