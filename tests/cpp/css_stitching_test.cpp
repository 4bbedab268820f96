#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
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
  EXPECT_THROW(create_overlap_window(3, 4, false, false), common::ValueError);
}

TEST(CssStitchingTest, SumsAreFormedInDoubleAndStoredAsFloat) {
  const std::vector<double> ones = {1.0, 1.0, 1.0};
  const std::vector<double> window = {0.1, 1.0, 0.0};
  const float first[] = {1.0f, 0.0f, 0.0f};
  const double second[] = {3.0, 1e-9, 5.0};
  std::vector<float> stream(4, -7.0f);
  std::vector<StitchPiece> pieces(2);
  pieces[0].window = &ones;
  pieces[0].f32 = {first, 3};
  pieces[1].window = &window;
  pieces[1].f64 = {second, 3};
  stitch_streams(pieces, {stream.data()}, 4);
  const float sum0 = static_cast<float>(1.0 + 3.0 * 0.1);
  const float weight0 = static_cast<float>(1.0 + 0.1);
  EXPECT_EQ(stream[0], sum0 / weight0);
  EXPECT_EQ(stream[1], static_cast<float>(1e-9) / 2.0f);
  EXPECT_EQ(stream[2], 0.0f);
  EXPECT_EQ(stream[3], 0.0f);   // covered by nothing
}

// Pieces spanning block borders, several speakers, list order per sample.
TEST(CssStitchingTest, LongTimeLinesMatchFullLengthAccumulation) {
  const int64_t total = 100000, seg = 38400, hop = 19200;
  std::vector<std::vector<float>> signals;
  std::vector<std::vector<double>> windows;
  std::vector<StitchPiece> pieces;
  signals.reserve(8);
  windows.reserve(8);
  for (int64_t i = 0, start = 0; start < total; ++i, start += hop) {
    const int64_t length = std::min(seg, total - start);
    signals.emplace_back(length);
    for (int64_t k = 0; k < length; ++k) signals.back()[k] = std::sin(0.001 * (k + 7 * i)) + 0.1f * i;
    windows.push_back(create_overlap_window(length, seg - hop, i == 0, start + seg >= total));
    StitchPiece piece;
    piece.start = start;
    piece.window = &windows.back();
    piece.f32 = common::samples_of(signals.back());
    piece.speaker = i % 2 == 0 ? 0 : 1;
    pieces.push_back(piece);
    if (start + seg >= total) break;
  }
  std::vector<float> a(total), b(total);
  stitch_streams(pieces, {a.data(), b.data()}, total);
  std::vector<float> sums[2] = {std::vector<float>(total), std::vector<float>(total)};
  std::vector<float> weights[2] = {std::vector<float>(total), std::vector<float>(total)};
  for (const StitchPiece& p : pieces) {
    for (size_t k = 0; k < p.window->size(); ++k) {
      float& s = sums[p.speaker][p.start + k];
      float& w = weights[p.speaker][p.start + k];
      s = static_cast<float>(static_cast<double>(s) + static_cast<double>(p.f32[k]) * (*p.window)[k]);
      w = static_cast<float>(static_cast<double>(w) + (*p.window)[k]);
    }
  }
  for (int64_t i = 0; i < total; ++i) {
    for (int k = 0; k < 2; ++k) {
      const float expected = weights[k][i] > 0.0f ? sums[k][i] / weights[k][i] : sums[k][i];
      ASSERT_EQ((k == 0 ? a : b)[i], expected) << i << " " << k;
    }
  }
}

TEST(CssStitchingTest, CrossFadeWeightsSumToOne) {
  const std::vector<double> out = create_overlap_window(8, 4, true, false);
  const std::vector<double> in = create_overlap_window(8, 4, false, true);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(out[4 + i] + in[i], 1.0, 1e-15);
}

// ---------------------------------------------------------------- the plan

// seg 6, hop 3: windows of 6 with ramps of 3.
StitchPlan plan_of(std::vector<StitchRecord> records, int64_t total = 12) {
  return StitchPlan(std::move(records), 6, 3, total);
}

TEST(CssStitchPlanTest, SpeakersAscendAndNegativeIdsArePassedOver) {
  const StitchPlan plan = plan_of({{0, 0, 6, {2, -1}}, {1, 3, 9, {0, 1}}, {3, 9, 12, {-3, 2}}});
  EXPECT_EQ(plan.speakers(), (std::vector<int64_t>{0, 1, 2}));
  const auto& p = plan.placements();
  ASSERT_EQ(p.size(), 4u);
  // (record, position, stream) in record order.
  const std::vector<std::vector<size_t>> expected = {{0, 0, 2}, {1, 0, 0}, {1, 1, 1}, {2, 1, 2}};
  for (size_t k = 0; k < p.size(); ++k) {
    EXPECT_EQ((std::vector<size_t>{p[k].record, p[k].position, p[k].speaker}), expected[k]) << k;
  }
  EXPECT_TRUE(plan_of({}).speakers().empty());
  EXPECT_TRUE(plan_of({{0, 0, 6, {-1, -1}}}).placements().empty());
}

// Window 0 is not faded in and the last record (here not the recording's
// last window) is not faded out; a speaker alone in its window comes back
// at full level under its ramp, but for the ramp's zero sample.
TEST(CssStitchPlanTest, StreamsAreWeightedMeansUnderTheRamps) {
  StitchPlan plan = plan_of({{0, 0, 6, {0}}, {1, 3, 9, {0, 1}}}, 12);
  const std::vector<float> a(6, 2.0f), b(6, 4.0f), c(8, 1.0f);
  plan.set_samples(0, common::samples_of(a));
  plan.set_samples(1, common::samples_of(b));
  plan.set_samples(2, common::samples_of(c));  // longer than its span: only 6 are read
  std::vector<float> s0(12, -1.0f), s1(12, -1.0f);
  plan.stitch({s0.data(), s1.data()});
  // Speaker 0: a alone, then the cross-fade a -> b over 3..5, then b alone.
  EXPECT_EQ(s0[0], 2.0f);
  EXPECT_FLOAT_EQ(s0[4], 0.5f * 2.0f + 0.5f * 4.0f);
  EXPECT_EQ(s0[8], 4.0f);
  EXPECT_EQ(s0[9], 0.0f);
  // Speaker 1 only in window 1: its fade-in starts at 0.0, then full level.
  EXPECT_EQ(s1[3], 0.0f);
  EXPECT_FLOAT_EQ(s1[4], 1.0f);
  EXPECT_EQ(s1[8], 1.0f);
  EXPECT_EQ(s1[2], 0.0f);
}

TEST(CssStitchPlanTest, FaultyRecordsAndSignalsAreRefused) {
  EXPECT_THROW(plan_of({{0, 6, 3, {0}}}), common::ValueError);    // ends before it starts
  EXPECT_THROW(plan_of({{0, 9, 15, {0}}}), common::ValueError);   // beyond the recording
  EXPECT_THROW(plan_of({{0, -3, 3, {0}}}), common::ValueError);   // before it
  EXPECT_THROW(plan_of({{1, 3, 5, {-1}}, {2, 6, 12, {0}}}), common::ValueError);  // too short for its ramps
  StitchPlan plan = plan_of({{0, 0, 6, {0, 1}}});
  const std::vector<double> short_signal(5, 1.0);
  EXPECT_THROW(plan.set_samples(0, common::samples_of(short_signal)), common::ValueError);
  const std::vector<double> signal(12, 1.0);
  EXPECT_THROW(plan.set_samples(0, common::SampleView<const double>(signal.data(), 6, 2)), std::invalid_argument);
  plan.set_samples(0, common::samples_of(signal));
  std::vector<float> s0(12), s1(12);
  EXPECT_THROW(plan.stitch({s0.data(), s1.data()}), common::ValueError);  // signal of position 1 never lent
}

}  // namespace
}  // namespace speech::css
