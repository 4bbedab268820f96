#include <gtest/gtest.h>

#include <vector>

#include "common/errors.h"
#include "css/stitching.h"

namespace speech::css {
namespace {

TEST(CssStitchingTest, RampsAreAssignedEndPointsIncluded) {
  EXPECT_EQ(create_overlap_window(6, 3, false, false), (std::vector<double>{0.0, 0.5, 1.0, 1.0, 0.5, 0.0}));
  EXPECT_EQ(create_overlap_window(6, 3, true, false), (std::vector<double>{1, 1, 1, 1.0, 0.5, 0.0}));
  EXPECT_EQ(create_overlap_window(6, 3, false, true), (std::vector<double>{0.0, 0.5, 1.0, 1, 1, 1}));
  EXPECT_EQ(create_overlap_window(4, 0, false, false), (std::vector<double>(4, 1.0)));
  EXPECT_EQ(create_overlap_window(4, -3, false, false), (std::vector<double>(4, 1.0)));
  EXPECT_TRUE(create_overlap_window(0, -1, false, false).empty());
}

TEST(CssStitchingTest, SingleSampleRampsAndMeetingRamps) {
  // linspace(0, 1, 1) is [0.0]; linspace(1, 0, 1) is [1.0].
  EXPECT_EQ(create_overlap_window(3, 1, false, false), (std::vector<double>{0.0, 1.0, 1.0}));
  // Ramps of 3 in a window of 4: the fade-out overwrites the fade-in.
  EXPECT_EQ(create_overlap_window(4, 3, false, false), (std::vector<double>{0.0, 1.0, 0.5, 0.0}));
}

TEST(CssStitchingTest, RampValuesFollowLinspaceArithmetic) {
  const std::vector<double> w = create_overlap_window(10, 7, false, false);
  const std::vector<double> in = create_overlap_window(10, 7, false, true);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(in[i], i * (1.0 / 6.0) + 0.0);
  EXPECT_EQ(in[6], 1.0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(w[3 + i], i * (-1.0 / 6.0) + 1.0);
  EXPECT_EQ(w[9], 0.0);
}

TEST(CssStitchingTest, OverlapLongerThanTheWindowIsRefused) {
  EXPECT_THROW(create_overlap_window(3, 4, false, false), ValueError);
}

TEST(CssStitchingTest, SumsAreFormedInDoubleAndStoredAsFloat) {
  std::vector<float> stream = {1.0f, 0.0f, 0.0f}, weights(3, 0.0f);
  const std::vector<double> window = {0.1, 1.0, 0.0};
  const double signal[] = {3.0, 1e-9, 5.0};
  overlap_add(stream.data(), weights.data(), signal, window, 0);
  EXPECT_EQ(stream[0], static_cast<float>(1.0 + 3.0 * 0.1));
  EXPECT_EQ(stream[1], static_cast<float>(1e-9));
  EXPECT_EQ(stream[2], 0.0f);
  EXPECT_EQ(weights[0], static_cast<float>(0.1));
  normalise_stream(stream.data(), weights.data(), 3);
  EXPECT_EQ(stream[0], static_cast<float>(1.0 + 0.3) / static_cast<float>(0.1));
  EXPECT_EQ(stream[2], 0.0f);   // zero weight: kept as it is
}

TEST(CssStitchingTest, CrossFadeWeightsSumToOne) {
  const std::vector<double> out = create_overlap_window(8, 4, true, false);
  const std::vector<double> in = create_overlap_window(8, 4, false, true);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(out[4 + i] + in[i], 1.0, 1e-15);
}

}  // namespace
}  // namespace speech::css
