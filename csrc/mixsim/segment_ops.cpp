#include "mixsim/segment_ops.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/errors.h"

#include "mixsim/stream_plan.h"

namespace speech::mixsim {

namespace {

void check_same_length(common::SampleView<const float> a, common::SampleView<const float> b) {
  if (a.size() != b.size()) throw std::invalid_argument("element-wise steps need runs of one length");
}

}  // namespace

void crop_or_pad(common::SampleView<const float> src, int64_t start, int64_t L, float* out) {
  const int64_t kept = std::max<int64_t>(0, std::min(L, src.size() - start));
  if (kept > 0) std::memcpy(out, src.contiguous_data() + start, static_cast<size_t>(kept) * sizeof(float));
  std::fill(out + kept, out + L, 0.0f);
}

void place_window(common::SampleView<const float> window, int64_t dst_start, int64_t L, float* out) {
  std::fill(out, out + L, 0.0f);
  if (!window.empty()) {
    std::memcpy(out + dst_start, window.contiguous_data(), static_cast<size_t>(window.size()) * sizeof(float));
  }
}

int64_t count_nonzero(common::SampleView<const float> x) {
  const float* data = x.contiguous_data();
  int64_t count = 0;
  for (int64_t i = 0; i < x.size(); ++i) count += data[i] != 0.0f;
  return count;
}

void sum_sources(const std::vector<common::SampleView<const float>>& sources, int64_t n, float* out) {
  if (sources.empty()) {
    std::fill(out, out + n, 0.0f);
    return;
  }
  for (const common::SampleView<const float>& source : sources) {
    if (source.size() != n) throw std::invalid_argument("sources to sum need n samples each");
  }
  std::memcpy(out, sources.front().contiguous_data(), static_cast<size_t>(n) * sizeof(float));
  for (size_t k = 1; k < sources.size(); ++k) {
    const float* s = sources[k].contiguous_data();
    for (int64_t i = 0; i < n; ++i) out[i] += s[i];
  }
}

void subtract(common::SampleView<const float> a, common::SampleView<const float> b, float* out) {
  check_same_length(a, b);
  const float* x = a.contiguous_data();
  const float* y = b.contiguous_data();
  for (int64_t i = 0; i < a.size(); ++i) out[i] = x[i] - y[i];
}

void add(common::SampleView<const float> a, common::SampleView<const float> b, float* out) {
  check_same_length(a, b);
  const float* x = a.contiguous_data();
  const float* y = b.contiguous_data();
  for (int64_t i = 0; i < a.size(); ++i) out[i] = x[i] + y[i];
}

NoiseRegions noise_regions(int64_t total, double region_seconds, int64_t rate, int64_t segment) {
  NoiseRegions regions;
  regions.region = round_half_even(region_seconds * static_cast<double>(rate));
  if (regions.region <= 0) regions.region = segment;
  if (regions.region <= 0) {
    throw common::ValueError("a noise segment needs a positive segment length, got segment_samples=" + std::to_string(segment));
  }
  regions.count = total >= regions.region ? total / regions.region : 1;
  return regions;
}

RegionBounds region_bounds(const NoiseRegions& regions, int64_t index, int64_t total) {
  const int64_t begin = index * regions.region;
  return {begin, std::min(begin + regions.region, total)};
}

void tile_into(common::SampleView<const float> region, int64_t L, float* out) {
  const int64_t n = region.size();
  if (n < 1) throw std::invalid_argument("an empty region cannot be repeated");
  const float* samples = region.contiguous_data();
  for (int64_t done = 0; done < L; done += n) {
    const int64_t take = std::min(n, L - done);
    std::memcpy(out + done, samples, static_cast<size_t>(take) * sizeof(float));
  }
}

}  // namespace speech::mixsim
