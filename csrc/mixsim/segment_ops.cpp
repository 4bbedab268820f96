#include "mixsim/segment_ops.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/errors.h"

#include "mixsim/stream_plan.h"

namespace speech::mixsim {

void crop_or_pad(const float* src, int64_t n, int64_t start, int64_t L, float* out) {
  const int64_t kept = std::max<int64_t>(0, std::min(L, n - start));
  if (kept > 0) std::memcpy(out, src + start, static_cast<size_t>(kept) * sizeof(float));
  std::fill(out + kept, out + L, 0.0f);
}

void place_window(const float* src, int64_t src_start, int64_t len, int64_t dst_start, int64_t L, float* out) {
  std::fill(out, out + L, 0.0f);
  if (len > 0) std::memcpy(out + dst_start, src + src_start, static_cast<size_t>(len) * sizeof(float));
}

int64_t count_nonzero(const float* x, int64_t n) {
  int64_t count = 0;
  for (int64_t i = 0; i < n; ++i) count += x[i] != 0.0f;
  return count;
}

void sum_sources(const float* const* sources, int64_t count, int64_t n, float* out) {
  if (count == 0) {
    std::fill(out, out + n, 0.0f);
    return;
  }
  std::memcpy(out, sources[0], static_cast<size_t>(n) * sizeof(float));
  for (int64_t k = 1; k < count; ++k) {
    const float* s = sources[k];
    for (int64_t i = 0; i < n; ++i) out[i] += s[i];
  }
}

void subtract(const float* a, const float* b, int64_t n, float* out) {
  for (int64_t i = 0; i < n; ++i) out[i] = a[i] - b[i];
}

void add(const float* a, const float* b, int64_t n, float* out) {
  for (int64_t i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

NoiseRegions noise_regions(int64_t total, double region_seconds, int64_t rate, int64_t segment) {
  NoiseRegions regions;
  regions.region = round_half_even(region_seconds * static_cast<double>(rate));
  if (regions.region <= 0) regions.region = segment;
  if (regions.region <= 0) {
    throw ValueError("a noise segment needs a positive segment length, got segment_samples=" + std::to_string(segment));
  }
  regions.count = total >= regions.region ? total / regions.region : 1;
  return regions;
}

RegionBounds region_bounds(const NoiseRegions& regions, int64_t index, int64_t total) {
  const int64_t begin = index * regions.region;
  return {begin, std::min(begin + regions.region, total)};
}

void tile_into(const float* region, int64_t n, int64_t L, float* out) {
  for (int64_t done = 0; done < L; done += n) {
    const int64_t take = std::min(n, L - done);
    std::memcpy(out + done, region, static_cast<size_t>(take) * sizeof(float));
  }
}

}  // namespace speech::mixsim
