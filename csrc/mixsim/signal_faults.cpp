#include "mixsim/signal_faults.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace speech::mixsim {

namespace {

// Whether x[0, n) holds a NaN or an infinity (all exponent bits set),
// tested on the bits so that the loop vectorises.
bool holds_non_finite(const float* x, int64_t n) {
  uint32_t found = 0;
  for (int64_t i = 0; i < n; ++i) {
    uint32_t bits;
    std::memcpy(&bits, x + i, sizeof(bits));
    found |= static_cast<uint32_t>((bits & 0x7f800000u) == 0x7f800000u);
  }
  return found != 0;
}

}  // namespace

std::optional<NonFiniteSample> first_non_finite(const float* x, int64_t n) {
  // Whole blocks are cleared at once; only a block holding one is searched.
  constexpr int64_t kBlock = 1024;
  for (int64_t begin = 0; begin < n; begin += kBlock) {
    const int64_t count = std::min(kBlock, n - begin);
    if (!holds_non_finite(x + begin, count)) continue;
    for (int64_t i = begin; i < begin + count; ++i) {
      if (!std::isfinite(x[i])) return NonFiniteSample{i, x[i]};
    }
  }
  return std::nullopt;
}

std::string describe_non_finite(const NonFiniteSample& sample, const char* unit) {
  const char* value = std::isnan(sample.value) ? "nan" : (sample.value > 0 ? "inf" : "-inf");
  return std::string(unit) + " " + std::to_string(sample.index) + " is " + value;
}

bool carries_signal(const float* x, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    if (x[i] != 0.0f) return true;
  }
  return false;
}

std::optional<ImpulseResponseFault> impulse_response_fault(const float* h, int64_t n) {
  if (const std::optional<NonFiniteSample> bad = first_non_finite(h, n)) {
    return ImpulseResponseFault{true, describe_non_finite(*bad, "frame")};
  }
  if (n > 0 && !carries_signal(h, n)) return ImpulseResponseFault{false, "every sample is zero"};
  return std::nullopt;
}

void zero_non_finite(float* x, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i])) x[i] = 0.0f;
  }
}

void restore_non_finite(const float* original, int64_t n, double orig_sr, double target_sr, float* resampled,
                        int64_t m) {
  const double ratio = target_sr / orig_sr;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int64_t i = 0; i < n; ++i) {
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
