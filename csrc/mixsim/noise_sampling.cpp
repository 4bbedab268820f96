#include "mixsim/noise_sampling.h"

namespace speech::mixsim {

std::optional<RegionBounds> draw_noise_region(RandomDraws& rng, int64_t total, double region_seconds, int64_t rate,
                                              int64_t L) {
  if (total == 0) return std::nullopt;
  const NoiseRegions regions = noise_regions(total, region_seconds, rate, L);
  return region_bounds(regions, rng.randrange(regions.count), total);
}

void cut_noise_segment(RandomDraws& rng, common::SampleView<const float> region, int64_t L, float* out) {
  if (region.size() < L) {
    tile_into(region, L, out);
    return;
  }
  const int64_t max_offset = region.size() - L;
  const int64_t start = max_offset > 0 ? rng.randint(0, max_offset) : 0;
  crop_or_pad(region, start, L, out);
}

}  // namespace speech::mixsim
