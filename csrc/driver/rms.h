#pragma once
// Signal-level RMS measurement and normalisation, in the signal's own
// floating-point type.
#include <cstdint>
#include <vector>

#include "common/sample_view.h"

namespace speech::driver {

// sqrt(mean(x^2)) over all samples; NaN for no samples.
template <typename T>
T rms_level(common::SampleView<const T> samples);

// x * gain (gain rounded to T first), then divided by the peak magnitude when
// that peak exceeds 1. Throws ValueError for no samples, which have no peak.
template <typename T>
std::vector<T> scale_with_peak_limit(common::SampleView<const T> samples, double gain);

}  // namespace speech::driver
