#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/errors.h"
#include "common/numpy_sum.h"
#include "driver/rms.h"
#include "driver/speech_energy.h"

namespace speech::driver {
namespace {

struct SliceCase {
  int64_t start, stop, length, begin, end;
};

TEST(SpeechEnergy, SliceBoundsAsTheInterpreterSlices) {
  const SliceCase cases[] = {
      {2, 5, 10, 2, 5}, {-3, 10, 10, 7, 10}, {5, 50, 10, 5, 10}, {-50, 3, 10, 0, 3}, {8, -5, 10, 8, 8},
  };
  for (const auto& c : cases) {
    const SliceRange r = slice_range(c.start, c.stop, c.length);
    EXPECT_EQ(r.begin, c.begin) << c.start << ":" << c.stop;
    EXPECT_EQ(r.end, c.end) << c.start << ":" << c.stop;
  }
}

TEST(SpeechEnergy, OnlyKeptSpansCount) {
  const std::vector<double> x = {1, 1, 2, 2, 0, 0, 3, 3};
  const SpeechEnergy e = speech_mean_energy(common::samples_of(x), {{2, 4}, {5, 5}, {7, 6}, {6, 8}}, 2.0);
  EXPECT_DOUBLE_EQ(e.mean_energy, (4 + 4 + 9 + 9) / 4.0);
  EXPECT_DOUBLE_EQ(e.duration_sec, 2.0);
  const SpeechEnergy none = speech_mean_energy(common::samples_of(x), {{3, 3}, {4, 1}}, 2.0);
  EXPECT_EQ(none.mean_energy, 0.0);
  EXPECT_EQ(none.duration_sec, 0.0);
}

TEST(SpeechEnergy, SpanSlicingToNothingHasNanMean) {
  const std::vector<float> x = {1, 2, 3};
  const SpeechEnergy e = speech_mean_energy(common::samples_of(x), {{10, 20}}, 16000.0);
  EXPECT_TRUE(std::isnan(e.mean_energy));
  EXPECT_EQ(e.duration_sec, 0.0);
}

TEST(PairwiseSum, SinglePrecisionAccumulatesInBlocks) {
  // 1 + 2^-24 * n is lost by a running float sum but kept by blocks of 8.
  std::vector<float> x(16, 1.0f);
  x.resize(1024, std::ldexp(1.0f, -24));
  float naive = 0;
  for (float v : x) naive += v;
  EXPECT_GT(common::pairwise_sum(common::samples_of(x)), naive);
}

TEST(Rms, LevelAndPeakLimit) {
  const std::vector<double> x = {3.0, -4.0};
  EXPECT_DOUBLE_EQ(rms_level(common::samples_of(x)), std::sqrt(12.5));
  EXPECT_TRUE(std::isnan(rms_level(common::SampleView<const double>())));
  const std::vector<double> half = {0.5, -0.5, 0.5, -0.5};
  EXPECT_EQ(scale_with_peak_limit(common::samples_of(half), 2.0), (std::vector<double>{1.0, -1.0, 1.0, -1.0}));
  EXPECT_EQ(scale_with_peak_limit(common::samples_of(half), 4.0), (std::vector<double>{1.0, -1.0, 1.0, -1.0}));
  EXPECT_THROW(scale_with_peak_limit(common::SampleView<const double>(), 1.0), common::ValueError);
}

}  // namespace
}  // namespace speech::driver
