// The dataset's arguments that are refused at construction, and the shard
// arithmetic that would otherwise divide by zero.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/errors.h"
#include "mixsim/dataset_arguments.h"
#include "mixsim/stream_plan.h"

namespace speech::mixsim {
namespace {

// The ValueError's text, or "" when nothing was thrown.
template <typename F>
std::string refusal(F&& f) {
  try {
    f();
  } catch (const common::ValueError& e) {
    return e.what();
  }
  return "";
}

TEST(DatasetArguments, TargetRateMustBePositive) {
  EXPECT_EQ(refusal([] { check_target_sr(1); }), "");
  EXPECT_EQ(refusal([] { check_target_sr(0); }), "target_sr must be a positive sample rate in Hz, got 0");
  EXPECT_EQ(refusal([] { check_target_sr(-16000); }), "target_sr must be a positive sample rate in Hz, got -16000");
}

struct SegmentCase {
  double seconds;
  int64_t rate;
  int64_t samples;  // 0: refused
};

class SegmentSamples : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(SegmentSamples, RoundsOrRefusesNamingTheArgument) {
  const SegmentCase& c = GetParam();
  if (c.samples > 0) {
    EXPECT_EQ(segment_samples_for(c.seconds, c.rate), c.samples);
    return;
  }
  const std::string text = refusal([&] { segment_samples_for(c.seconds, c.rate); });
  EXPECT_EQ(text.rfind("segment_seconds must be a finite length that holds at least one sample at ", 0), 0u) << text;
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Cases, SegmentSamples,
                         ::testing::Values(SegmentCase{3.0, 16000, 48000}, SegmentCase{1.0 / 256, 16000, 62},
                                           SegmentCase{3.0 / 256, 16000, 188}, SegmentCase{0.5 / 16000, 16000, 0},
                                           SegmentCase{0.51 / 16000, 16000, 1}, SegmentCase{0.0, 16000, 0},
                                           SegmentCase{-3.0, 16000, 0}, SegmentCase{kNan, 16000, 0},
                                           SegmentCase{kInf, 16000, 0}, SegmentCase{-kInf, 16000, 0},
                                           SegmentCase{1e300, 16000, 0}));

TEST(DatasetArguments, SegmentRefusalShowsTheValue) {
  EXPECT_EQ(refusal([] { segment_samples_for(kNan, 8000); }),
            "segment_seconds must be a finite length that holds at least one sample at 8000 Hz, got nan");
  EXPECT_EQ(refusal([] { segment_samples_for(0.0, 16000); }),
            "segment_seconds must be a finite length that holds at least one sample at 16000 Hz, got 0.0");
}

TEST(DatasetArguments, RankLiesInTheWorld) {
  EXPECT_EQ(refusal([] { check_shard(0, 1); }), "");
  EXPECT_EQ(refusal([] { check_shard(3, 4); }), "");
  EXPECT_EQ(refusal([] { check_shard(0, 0); }),
            "world_size must be at least 1 (the number of training processes), got 0");
  EXPECT_EQ(refusal([] { check_shard(0, -1); }),
            "world_size must be at least 1 (the number of training processes), got -1");
  EXPECT_EQ(refusal([] { check_shard(2, 2); }), "rank must lie in [0, world_size) = [0, 2), got 2");
  EXPECT_EQ(refusal([] { check_shard(-1, 2); }), "rank must lie in [0, world_size) = [0, 2), got -1");
}

TEST(DatasetArguments, SpeakerCountWeights) {
  EXPECT_EQ(refusal([] { check_speaker_count_weights({0.1, 0.0, 0.3}); }), "");
  EXPECT_EQ(refusal([] { check_speaker_count_weights({0.5, -0.2}); }),
            "speaker_count_probs weights must be finite and not negative, got -0.2");
  EXPECT_EQ(refusal([] { check_speaker_count_weights({0.5, kNan}); }),
            "speaker_count_probs weights must be finite and not negative, got nan");
  EXPECT_EQ(refusal([] { check_speaker_count_weights({kInf}); }),
            "speaker_count_probs weights must be finite and not negative, got inf");
  const std::string none = "speaker_count_probs must give at least one speaker count a positive weight";
  EXPECT_EQ(refusal([] { check_speaker_count_weights({0.0, 0.0}); }), none);
  EXPECT_EQ(refusal([] { check_speaker_count_weights({}); }), none);
}

TEST(DatasetArguments, SeedsAndEpochsAreNotNegative) {
  EXPECT_EQ(refusal([] { check_not_negative(false, "seed", "0"); }), "");
  EXPECT_EQ(refusal([] { check_not_negative(true, "seed", "-1"); }),
            "seed must not be negative (a random stream seeded with -k is the one seeded with k), got -1");
}

TEST(StreamPlan, ABadShardIsRefusedInsteadOfDividingByZero) {
  EXPECT_THROW(shard_info(0, 0, 0, 1), common::ValueError);
  EXPECT_THROW(shard_info(1, 1, 0, 1), common::ValueError);
  EXPECT_THROW(samples_for_worker(10, {0, 0}), common::ValueError);
  EXPECT_THROW(samples_for_worker(10, {0, -2}), common::ValueError);
  // An endless stream divides nothing.
  EXPECT_EQ(samples_for_worker(std::nullopt, {0, 0}), std::nullopt);
}

}  // namespace
}  // namespace speech::mixsim
