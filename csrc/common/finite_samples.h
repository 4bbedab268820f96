#pragma once
// Whether every sample is a finite number. A NaN or an infinity in a
// recording poisons every window that holds it (and a wav writer turns it
// into full-scale noise), so such a recording is refused before it is used.
#include <cmath>
#include <cstdint>

namespace speech {

template <typename T>
bool all_finite(const T* samples, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    if (!std::isfinite(samples[i])) return false;
  }
  return true;
}

}  // namespace speech
