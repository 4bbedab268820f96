#include "mixsim/signal_faults.h"

#include <cmath>
#include <limits>

#include "common/finite_samples.h"

namespace speech::mixsim {

std::optional<NonFiniteSample> first_non_finite(common::SampleView<const float> x) {
  const std::optional<int64_t> at = common::first_non_finite_index(x);
  if (!at) return std::nullopt;
  return NonFiniteSample{*at, x[*at]};
}

std::string describe_non_finite(const NonFiniteSample& sample, const char* unit) {
  const char* value = std::isnan(sample.value) ? "nan" : (sample.value > 0 ? "inf" : "-inf");
  return std::string(unit) + " " + std::to_string(sample.index) + " is " + value;
}

bool carries_signal(common::SampleView<const float> x) {
  for (int64_t i = 0; i < x.size(); ++i) {
    if (x[i] != 0.0f) return true;
  }
  return false;
}

std::optional<ImpulseResponseFault> impulse_response_fault(common::SampleView<const float> h) {
  if (const std::optional<NonFiniteSample> bad = first_non_finite(h)) {
    return ImpulseResponseFault{true, describe_non_finite(*bad, "frame")};
  }
  if (!h.empty() && !carries_signal(h)) return ImpulseResponseFault{false, "every sample is zero"};
  return std::nullopt;
}

void zero_non_finite(common::SampleView<float> x) {
  for (int64_t i = 0; i < x.size(); ++i) {
    if (!std::isfinite(x[i])) x[i] = 0.0f;
  }
}

void restore_non_finite(common::SampleView<const float> original, double orig_sr, double target_sr,
                        common::SampleView<float> resampled) {
  const int64_t m = resampled.size();
  const double ratio = target_sr / orig_sr;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int64_t i = 0; i < original.size(); ++i) {
    if (std::isfinite(original[i])) continue;
    // Input sample i lies between these two output samples (on one of them
    // when the rates divide evenly).
    const double at = static_cast<double>(i) * ratio;
    const auto lo = static_cast<int64_t>(std::floor(at));
    const auto hi = static_cast<int64_t>(std::ceil(at));
    if (lo >= 0 && lo < m) resampled[lo] = nan;
    if (hi >= 0 && hi < m) resampled[hi] = nan;
  }
}

}  // namespace speech::mixsim
