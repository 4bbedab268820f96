// What keeps a signal out of a training sample: non-finite samples, silence,
// and the scan of a file held open for its crop.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/wav_io.h"
#include "mixsim/segment_reader.h"
#include "mixsim/signal_faults.h"
#include "scratch_folder.h"

namespace speech::mixsim {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

struct NonFiniteCase {
  std::vector<float> x;
  std::optional<int64_t> index;
  std::string text;  // describe_non_finite(..., "frame")
};

class FirstNonFinite : public ::testing::TestWithParam<NonFiniteCase> {};

TEST_P(FirstNonFinite, FindsTheFirstAndNamesIt) {
  const NonFiniteCase& c = GetParam();
  const std::optional<NonFiniteSample> got = first_non_finite(common::samples_of(c.x));
  ASSERT_EQ(got.has_value(), c.index.has_value());
  if (!got) return;
  EXPECT_EQ(got->index, *c.index);
  EXPECT_EQ(describe_non_finite(*got, "frame"), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstNonFinite,
    ::testing::Values(NonFiniteCase{{}, std::nullopt, ""}, NonFiniteCase{{0.0f, 1e38f, -1e-45f}, std::nullopt, ""},
                      NonFiniteCase{{0.5f, NAN, kInf}, 1, "frame 1 is nan"},
                      NonFiniteCase{{0.5f, 0.25f, kInf}, 2, "frame 2 is inf"},
                      NonFiniteCase{{-kInf}, 0, "frame 0 is -inf"}));

TEST(SignalFaults, SignalIsAnySampleOtherThanZero) {
  const std::vector<float> zeros(8, 0.0f);
  EXPECT_FALSE(carries_signal(common::samples_of(zeros)));
  EXPECT_FALSE(carries_signal(common::samples_of(zeros).subview(0, 0)));
  const std::vector<float> negative_zero = {0.0f, -0.0f};
  EXPECT_FALSE(carries_signal(common::samples_of(negative_zero)));
  const std::vector<float> faint = {0.0f, 0.0f, 1e-45f};
  EXPECT_TRUE(carries_signal(common::samples_of(faint)));
}

TEST(SignalFaults, ImpulseResponsesThatCountAsEmpty) {
  const std::vector<float> sound = {1.0f, 0.0f, 0.3f};
  EXPECT_FALSE(impulse_response_fault(common::samples_of(sound)));
  // An empty one is empty already: nothing to report.
  EXPECT_FALSE(impulse_response_fault(common::samples_of(sound).subview(0, 0)));
  const std::vector<float> silent(5, 0.0f);
  const auto quiet = impulse_response_fault(common::samples_of(silent));
  ASSERT_TRUE(quiet);
  EXPECT_FALSE(quiet->non_finite);
  EXPECT_EQ(quiet->reason, "every sample is zero");
  const std::vector<float> broken = {1.0f, 0.0f, 0.0f, NAN};
  const auto bad = impulse_response_fault(common::samples_of(broken));
  ASSERT_TRUE(bad);
  EXPECT_TRUE(bad->non_finite);
  EXPECT_EQ(bad->reason, "frame 3 is nan");
  // Non-finite wins over silence: it is the worse fault to report.
  const std::vector<float> silent_nan = {0.0f, NAN};
  EXPECT_TRUE(impulse_response_fault(common::samples_of(silent_nan))->non_finite);
}

struct RestoreCase {
  double orig_sr, target_sr;
  int64_t bad_index, m;
  std::vector<int64_t> marked;
};

class RestoreNonFinite : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreNonFinite, MarksTheResampledPositionOnly) {
  const RestoreCase& c = GetParam();
  std::vector<float> original(static_cast<size_t>(c.bad_index) + 4, 0.1f);
  original[static_cast<size_t>(c.bad_index)] = -kInf;
  std::vector<float> zeroed = original;
  zero_non_finite(common::SampleView<float>(zeroed.data(), static_cast<int64_t>(zeroed.size())));
  EXPECT_EQ(zeroed[static_cast<size_t>(c.bad_index)], 0.0f);
  EXPECT_EQ(zeroed[0], 0.1f);
  std::vector<float> resampled(static_cast<size_t>(c.m), 0.2f);
  restore_non_finite(common::samples_of(original), c.orig_sr, c.target_sr, common::SampleView<float>(resampled.data(), c.m));
  std::vector<int64_t> marked;
  for (int64_t j = 0; j < c.m; ++j) {
    if (std::isnan(resampled[static_cast<size_t>(j)])) marked.push_back(j);
  }
  EXPECT_EQ(marked, c.marked);
}

INSTANTIATE_TEST_SUITE_P(Cases, RestoreNonFinite,
                         ::testing::Values(RestoreCase{8000, 16000, 3, 14, {6}},
                                           RestoreCase{16000, 8000, 3, 4, {1, 2}},
                                           RestoreCase{16000, 8000, 4, 4, {2}},
                                           RestoreCase{22050, 16000, 5, 7, {3, 4}},
                                           // Past the resampled signal's end: nothing to mark.
                                           RestoreCase{8000, 16000, 3, 5, {}}));

class TempWav : public ScratchFolderTest {
 protected:
  const std::string path_ = at("a.wav");
};

TEST_F(TempWav, ScanFindsANonFiniteFrameOfChannelZeroPastTheFirstBlock) {
  const int64_t frames = 70000;
  std::vector<float> interleaved(static_cast<size_t>(2 * frames), 0.25f);
  interleaved[2 * 50000 + 1] = NAN;  // channel 1 is never used
  common::write_wav(path_, interleaved.data(), frames, 2, 16000, common::WavSubtype::kFloat);
  EXPECT_FALSE(SegmentReader(path_).first_non_finite_frame());
  interleaved[2 * 60001] = -kInf;
  common::write_wav(path_, interleaved.data(), frames, 2, 16000, common::WavSubtype::kFloat);
  SegmentReader reader(path_);
  const std::optional<NonFiniteSample> bad = reader.first_non_finite_frame();
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->index, 60001);
  EXPECT_EQ(describe_non_finite(*bad, "frame"), "frame 60001 is -inf");
  // The crop still reads where it is asked after the scan.
  std::vector<float> stretch(3);
  reader.read_first_channel(60000, 3, stretch.data());
  EXPECT_EQ(stretch[0], 0.25f);
  EXPECT_TRUE(std::isinf(stretch[1]));
}

TEST_F(TempWav, IntegerFilesHoldNoNonFiniteFrame) {
  const std::vector<float> samples(1000, 0.5f);
  common::write_wav(path_, samples.data(), 1000, 1, 16000, common::WavSubtype::kPcm16);
  EXPECT_FALSE(SegmentReader(path_).first_non_finite_frame());
}

}  // namespace
}  // namespace speech::mixsim
