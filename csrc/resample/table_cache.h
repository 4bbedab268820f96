#pragma once
// Interpolation tables are costly to build (megabytes for "kaiser_best") and
// depend only on the filter and on min(1, target / orig), so the few most
// recently used are kept for the process: a loader resampling file after file
// from one rate builds its table once.
#include <memory>

#include "resample/kaiser_filter.h"
#include "resample/sinc_interpolator.h"

namespace speech::resample {

std::shared_ptr<const InterpTable> cached_interp_table(ResampleFilter filter, double sample_ratio);

}  // namespace speech::resample
