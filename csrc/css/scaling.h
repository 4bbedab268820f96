#pragma once
// The gains of Calculate_Scale over host buffers, applied to one output row:
// the scaling step of a window when its tensors live in host memory.
#include <cstdint>

namespace speech::css {

// The window mixture, centred once for all rows.
struct CenteredMixture {
  const float* samples = nullptr;
  int64_t length = 0;
  float mean = 0.0f;
};

CenteredMixture center_mixture(const float* mixture, int64_t length);

// out = gain * row, with gain = sum((row - mean(row)) * (mix - mean(mix))) /
// (sum((row - mean(row))^2) + eps), each step rounded to T as the tensor
// form rounds it (a float32 mixture meets a float64 row in float64).
template <typename T>
void scale_row_to_mixture(const T* row, const CenteredMixture& mixture, double eps, T* out);

}  // namespace speech::css
