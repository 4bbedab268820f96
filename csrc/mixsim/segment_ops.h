#pragma once
// Sample-level steps of one mixture: fitting an utterance to the segment,
// cutting a source's active window into place, summing sources, and taking
// a noise segment from one region of a long noise. Every run of samples here
// lies side by side.
#include <cstdint>
#include <vector>

#include "common/sample_view.h"

namespace speech::mixsim {

// Copies what src holds of samples [start, start + L) into out[0, L) and
// zero-fills the rest (the crop of a long utterance, the zero padding of a
// short one).
void crop_or_pad(common::SampleView<const float> src, int64_t start, int64_t L, float* out);

// out[0, L) is silent except out[dst_start, dst_start + window.size()) =
// window.
void place_window(common::SampleView<const float> window, int64_t dst_start, int64_t L, float* out);

int64_t count_nonzero(common::SampleView<const float> x);

// out[i] = sum over k of sources[k][i], added in source order in float32;
// every source holds n samples.
void sum_sources(const std::vector<common::SampleView<const float>>& sources, int64_t n, float* out);

// out = a - b and out = a + b, element by element, in float32; a and b are
// equally long.
void subtract(common::SampleView<const float> a, common::SampleView<const float> b, float* out);
void add(common::SampleView<const float> a, common::SampleView<const float> b, float* out);

// A noise is a row of back-to-back regions of `region` samples; a segment
// never spans two of them.
struct NoiseRegions {
  int64_t region = 0;  // samples per region
  int64_t count = 1;   // regions to draw from
};

// region = round(seconds * rate), falling back to the segment length when
// that is not positive; a noise shorter than one region is a single region.
// ValueError when the segment length is not positive either.
NoiseRegions noise_regions(int64_t total, double region_seconds, int64_t rate, int64_t segment);

struct RegionBounds {
  int64_t begin = 0;
  int64_t end = 0;
  int64_t size() const { return end - begin; }
};

RegionBounds region_bounds(const NoiseRegions& regions, int64_t index, int64_t total);

// The region (not empty) repeated from its first sample, cut to L samples.
void tile_into(common::SampleView<const float> region, int64_t L, float* out);

}  // namespace speech::mixsim
