#include "tracker/speech_detection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "common/floor_div.h"

namespace speech::tracker {
namespace {

using Ranges = std::vector<std::pair<int64_t, int64_t>>;

// Energies of a signal with `num_frames` frames: 1.0 at the given speech
// frames, 0 elsewhere (so the threshold is 0.05 x mean, well below 1).
std::vector<double> energies_with_speech(int64_t num_frames, const std::vector<int64_t>& speech) {
  std::vector<double> energies(static_cast<size_t>(num_frames), 0.0);
  for (const int64_t f : speech) energies[static_cast<size_t>(f)] = 1.0;
  return energies;
}

int64_t samples_for(int64_t num_frames) { return 160 * (num_frames - 1) + 400; }

TEST(SpeechDetection, FrameCountUsesFloorDivision) {
  const std::vector<float> short_signal(399, 1.0f);
  EXPECT_TRUE(frame_energies(common::samples_of(short_signal)).empty());
  EXPECT_EQ(detect_from_energies({}, 399).num_frames, 0);
  const std::vector<float> one_frame(559, 1.0f);  // 559 - 400 < 160: still one frame
  EXPECT_EQ(frame_energies(common::samples_of(one_frame)).size(), 1u);
}

TEST(SpeechDetection, EnergiesFollowTheStride) {
  // Every other element belongs to the view; the others would make it loud.
  // Read backwards from the last element, the view sees the same samples.
  std::vector<double> interleaved(2 * 560);
  for (size_t i = 0; i < interleaved.size(); ++i) interleaved[i] = (i % 2 == 0) ? 0.5 : 100.0;
  const common::SampleView<const double> forwards(interleaved.data(), 560, 2);
  const common::SampleView<const double> backwards(interleaved.data() + interleaved.size() - 2, 560, -2);
  for (const common::SampleView<const double>& view : {forwards, backwards}) {
    const auto energies = frame_energies(view);
    ASSERT_EQ(energies.size(), 2u);
    EXPECT_DOUBLE_EQ(energies[0], 0.25);
    EXPECT_DOUBLE_EQ(energies[1], 0.25);
  }
}

TEST(SpeechDetection, ThresholdIsStrictAndFloored) {
  // All frames equal: threshold 0.1 x e, every frame is speech.
  auto flat = detect_from_energies(std::vector<double>(30, 0.5), samples_for(30));
  EXPECT_EQ(flat.speech_frame_count, 30);
  EXPECT_EQ(flat.ranges, (Ranges{{0, samples_for(30)}}));
  // Below the 1e-7 floor nothing is speech; exactly at the floor neither.
  EXPECT_EQ(detect_from_energies(std::vector<double>(30, 1e-7), samples_for(30)).speech_frame_count, 0);
  EXPECT_EQ(detect_from_energies(std::vector<double>(30, 2e-7), samples_for(30)).speech_frame_count, 30);
}

TEST(SpeechDetection, MedianOfEvenCountIsMeanOfMiddlePair) {
  // Median (1 + 2) / 2 = 1.5, threshold 0.15: 0.17 is speech, 0.12 is not;
  // either middle value alone as the median would decide one of them otherwise.
  EXPECT_EQ(detect_from_energies({0.17, 1.0, 2.0, 5.0}, samples_for(4)).speech_frame_count, 4);
  EXPECT_EQ(detect_from_energies({0.12, 1.0, 2.0, 5.0}, samples_for(4)).speech_frame_count, 3);
}

struct RunCase {
  const char* name;
  int64_t num_frames;
  std::vector<int64_t> speech;
  Ranges expected;
};

class SpeechRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(SpeechRuns, WidenMergeAndJoin) {
  const RunCase& c = GetParam();
  const auto detection = detect_from_energies(energies_with_speech(c.num_frames, c.speech), samples_for(c.num_frames));
  EXPECT_EQ(detection.ranges, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpeechRuns,
    ::testing::Values(
        // Gap of exactly five stays in one run; both widened by ten frames.
        RunCase{"gap_five", 300, {100, 105}, {{90 * 160, 115 * 160 + 400}}},
        // Gap of six splits, widening joins them again.
        RunCase{"gap_six", 300, {100, 106}, {{90 * 160, 116 * 160 + 400}}},
        // Next run 21 frames later: widened ends touch (s <= pe + 1).
        RunCase{"touching", 300, {100, 121}, {{90 * 160, 131 * 160 + 400}}},
        // 22 frames later: two ranges that share 80 samples.
        RunCase{"sharing", 300, {100, 122}, {{90 * 160, 110 * 160 + 400}, {112 * 160, 132 * 160 + 400}}},
        // 23 frames later: 80 samples between them.
        RunCase{"apart", 300, {100, 123}, {{90 * 160, 110 * 160 + 400}, {113 * 160, 133 * 160 + 400}}},
        // Near the edges the widening is clipped to the signal.
        RunCase{"edges", 50, {3, 45}, {{0, 13 * 160 + 400}, {35 * 160, samples_for(50)}}}),
    [](const auto& info) { return info.param.name; });

TEST(SpeechDetection, JoinRepeatsSharedSamples) {
  std::vector<float> signal(1000);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] = static_cast<float>(i);
  const auto joined = join_ranges(common::samples_of(signal), {{0, 10}, {5, 12}});
  ASSERT_EQ(joined.size(), 17u);
  EXPECT_EQ(joined[9], 9.0f);
  EXPECT_EQ(joined[10], 5.0f);
  EXPECT_EQ(joined.back(), 11.0f);
  SpeechDetection detection;
  detection.ranges = {{0, 10}, {5, 12}};
  EXPECT_EQ(detection.joined_length(), 17);
}

// What reaches the embedding model, and the count a refused signal reports.
struct GateCase {
  const char* name;
  int64_t size;                     // samples of the signal
  std::vector<int64_t> speech;      // speech frames
  int64_t min_speech_samples;
  bool enough;
  int64_t speech_samples;
};

class SpeechGateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(SpeechGateTest, Gate) {
  const GateCase& c = GetParam();
  const int64_t frames = common::floor_div(c.size - 400, 160) + 1;
  const SpeechDetection detection =
      detect_from_energies(frames > 0 ? energies_with_speech(frames, c.speech) : std::vector<double>{}, c.size);
  const SpeechGate gate = gate_speech(detection, c.min_speech_samples);
  EXPECT_EQ(gate.enough, c.enough);
  EXPECT_EQ(gate.speech_samples, c.speech_samples);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpeechGateTest,
    ::testing::Values(
        GateCase{"shorter_than_a_frame", 399, {}, 1600, false, 0},
        // One loud frame: frames x hop, not the joined length, is reported.
        GateCase{"one_frame", 400, {0}, 1600, false, 160},
        GateCase{"nine_frames", samples_for(100), {10, 11, 12, 13, 14, 15, 16, 17, 18}, 1600, false, 1440},
        GateCase{"ten_frames", samples_for(100), {10, 11, 12, 13, 14, 15, 16, 17, 18, 19}, 1600, true,
                 29 * 160 + 400},  // frames 0 to 29 after widening
        // A minimum of zero lets a silent signal through the count, not the gate.
        GateCase{"silent_without_minimum", samples_for(100), {}, 0, false, 0}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace speech::tracker
