// Every way the interpolation loop sums a wing (taps kept per position, four
// lanes, four outputs of one phase at once) gives what the table reading
// gives output by output, to the bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

#include "resample/kaiser_filter.h"
#include "resample/resampler.h"
#include "resample/sinc_interpolator.h"

namespace speech::resample {
namespace {

// Output t read off the table one tap at a time: tap i of a wing is entry
// offset + i * index_step, interpolated towards the next entry; tap i goes
// to partial sum i % 4, the taps past the last group of four to sum 0.
template <typename T>
double wing(const InterpTable& table, double frac, int64_t available, const T* x, int64_t dir) {
  const double index_frac = frac * static_cast<double>(table.num_table);
  const auto offset = static_cast<int64_t>(index_frac);
  const double eta = index_frac - static_cast<double>(offset);
  const int64_t taps = std::min(available, (table.nwin - offset) / table.index_step);
  const int64_t start = table.row_start[static_cast<size_t>(offset)];
  double acc[4] = {0.0, 0.0, 0.0, 0.0};
  const int64_t groups = taps - taps % 4;
  for (int64_t i = 0; i < taps; ++i) {
    const auto k = static_cast<size_t>(start + i);
    const double tap = table.weight[k] + eta * table.delta[k];
    acc[i < groups ? i % 4 : 0] += tap * static_cast<double>(x[i * dir]);
  }
  return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

template <typename T>
std::vector<T> reference(const std::vector<T>& x, double orig, double target, ResampleFilter filter) {
  const double ratio = target / orig;
  const InterpTable table = prepare_table(kaiser_filter(filter), ratio);
  const double time_increment = 1.0 / ratio;
  const auto n_in = static_cast<int64_t>(x.size());
  std::vector<T> y(static_cast<size_t>(resampled_length(n_in, orig, target)), T(0));
  const auto n_interp = static_cast<int64_t>(static_cast<double>(n_in) * target / orig);
  for (int64_t t = 0; t < n_interp && t < static_cast<int64_t>(y.size()); ++t) {
    const double time = static_cast<double>(t) * time_increment;
    const auto n = static_cast<int64_t>(time);
    const double frac = table.scale * (time - static_cast<double>(n));
    const double left = wing(table, frac, n + 1, x.data() + n, -1);
    const double right = wing(table, table.scale - frac, n_in - n - 1, x.data() + n + 1, 1);
    y[static_cast<size_t>(t)] = static_cast<T>(left + right);
  }
  return y;
}

template <typename T>
std::vector<T> noise(int64_t n) {
  std::vector<T> x(static_cast<size_t>(n));
  uint32_t state = 99;
  for (auto& v : x) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<T>(static_cast<double>(state >> 8) / 16777216.0 - 0.5);
  }
  return x;
}

class Interpolation : public ::testing::TestWithParam<std::tuple<double, double, ResampleFilter>> {};

TEST_P(Interpolation, EqualsTheTableReadOutputByOutput) {
  const auto [orig, target, filter] = GetParam();
  for (const int64_t n : {int64_t{5}, int64_t{61}, int64_t{3001}}) {
    const std::vector<float> xf = noise<float>(n);
    const std::vector<double> xd = noise<double>(n);
    EXPECT_EQ(resample(common::contiguous_samples(xf.data(), n), orig, target, filter), reference(xf, orig, target, filter))
        << orig << "->" << target << ", " << n << " float samples";
    EXPECT_EQ(resample(common::contiguous_samples(xd.data(), n), orig, target, filter), reference(xd, orig, target, filter))
        << orig << "->" << target << ", " << n << " double samples";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, Interpolation,
    ::testing::Values(std::make_tuple(8000.0, 16000.0, ResampleFilter::kKaiserFast),
                      std::make_tuple(4000.0, 16000.0, ResampleFilter::kKaiserFast),
                      std::make_tuple(2000.0, 16000.0, ResampleFilter::kKaiserBest),
                      std::make_tuple(16000.0, 8000.0, ResampleFilter::kKaiserFast),
                      std::make_tuple(24000.0, 16000.0, ResampleFilter::kKaiserFast),
                      std::make_tuple(22050.0, 16000.0, ResampleFilter::kKaiserFast),
                      std::make_tuple(44100.0, 16000.0, ResampleFilter::kKaiserBest),
                      std::make_tuple(11025.0, 16000.0, ResampleFilter::kKaiserFast)));

}  // namespace
}  // namespace speech::resample
