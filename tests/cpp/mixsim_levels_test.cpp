#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "mixsim/signal_levels.h"

namespace speech::mixsim {
namespace {

TEST(RmsLevel, WidensBeforeSquaring) {
  const std::vector<int16_t> loud{30000, -32000, 25000};
  const double ms = (30000.0 * 30000 + 32000.0 * 32000 + 25000.0 * 25000) / 3;
  EXPECT_DOUBLE_EQ(rms_level(common::samples_of(loud), 1e-9), std::sqrt(ms + 1e-9));
}

TEST(RmsLevel, FloorInsideTheRoot) {
  const std::vector<float> zeros(10, 0.0f);
  EXPECT_DOUBLE_EQ(rms_level(common::samples_of(zeros), 1e-9), std::sqrt(1e-9));
  const std::vector<double> half(4, 0.5);
  EXPECT_DOUBLE_EQ(rms_level(common::samples_of(half), 0.0), 0.5);
}

TEST(MeanSquare, LongSignalsStayAccurateInFloat32) {
  // A naive float32 running sum of 200000 squares drifts visibly; the
  // pairwise order must not.
  std::vector<float> x(200000);
  double exact = 0.0;
  for (size_t i = 0; i < x.size(); ++i) {
    x[i] = static_cast<float>(std::sin(0.01 * static_cast<double>(i)) * 0.7);
    exact += static_cast<double>(x[i]) * x[i];
  }
  exact /= static_cast<double>(x.size());
  EXPECT_NEAR(mean_square(common::samples_of(x)), exact, exact * 1e-6);
}

TEST(FittedNoise, WindowOrRepetitionFromTheStart) {
  const std::vector<float> noise{1, 2, 3, 4, 5};
  FittedNoise<float> window{common::samples_of(noise), 2, 3};
  EXPECT_EQ(window[0], 3);
  EXPECT_EQ(window[2], 5);
  FittedNoise<float> repeat{common::samples_of(noise).subview(0, 3), 0, 7};
  const std::vector<float> expected{1, 2, 3, 1, 2, 3, 1};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(repeat[i], expected[i]);
  EXPECT_FLOAT_EQ(mean_square(repeat), (1 + 4 + 9 + 1 + 4 + 9 + 1) / 7.0f);
}

TEST(NoiseGain, SetsTheRatioOfLevels) {
  // clean level 1, noise level 2: 20 dB asks for noise at 0.1, a gain of 0.05.
  EXPECT_NEAR(noise_gain_for_snr(1.0, 4.0, 20.0), 0.05, 1e-9);
  EXPECT_NEAR(noise_gain_for_snr(1.0, 1.0, 0.0), 1.0, 1e-8);
  // Silent noise is floored, never divided by zero.
  EXPECT_TRUE(std::isfinite(noise_gain_for_snr(1.0, 0.0, 0.0)));
}

TEST(AddScaledNoise, SumsInTheSampleType) {
  const std::vector<double> clean{1.0, 2.0, 3.0};
  const std::vector<double> noise{1.0, -1.0};
  FittedNoise<double> seg{common::samples_of(noise), 0, 3};
  std::vector<float> out(3);
  add_scaled_noise(common::samples_of(clean), seg, 0.5, out.data());
  EXPECT_EQ(out, (std::vector<float>{1.5f, 1.5f, 3.5f}));
}

}  // namespace
}  // namespace speech::mixsim
