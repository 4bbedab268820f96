#pragma once
// The gains of Calculate_Scale over host buffers, applied to one output row:
// the scaling step of a window when its tensors live in host memory.
#include <cstdint>

#include "common/sample_view.h"

namespace speech::css {

// The window mixture, centred once for all rows.
struct CenteredMixture {
  common::SampleView<const float> samples;
  float mean = 0.0f;
};

// The mixture's samples must lie side by side.
CenteredMixture center_mixture(common::SampleView<const float> mixture);

// out = gain * row, with gain = sum((row - mean(row)) * (mix - mean(mix))) /
// (sum((row - mean(row))^2) + eps), each step rounded to T as the tensor
// form rounds it (a float32 mixture meets a float64 row in float64). The row,
// as long as the mixture, must lie side by side; out takes as many samples.
template <typename T>
void scale_row_to_mixture(common::SampleView<const T> row, const CenteredMixture& mixture, double eps, T* out);

}  // namespace speech::css
