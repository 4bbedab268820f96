#pragma once
// The noise of one mixture: a segment cut from one region of a whole noise
// signal, the region and the offset inside it drawn from the worker stream.
// A noise is a row of back-to-back regions; a segment never joins two.
#include <cstdint>
#include <optional>

#include "mixsim/random_draws.h"
#include "mixsim/segment_ops.h"

namespace speech::mixsim {

// The region of a noise of `total` samples that the segment is cut from,
// drawn with one randrange over the regions (also when there is only one).
// Nothing, and no draw, for an empty noise. ValueError from noise_regions.
std::optional<RegionBounds> draw_noise_region(RandomDraws& rng, int64_t total, double region_seconds, int64_t rate,
                                              int64_t L);

// out[0, L) from a region of at least one sample: a crop at an offset drawn
// with randint when the region is longer than L, the region itself when it
// is exactly L long, and the region repeated from its first sample when it
// is shorter (no draw for either).
void cut_noise_segment(RandomDraws& rng, common::SampleView<const float> region, int64_t L, float* out);

}  // namespace speech::mixsim
