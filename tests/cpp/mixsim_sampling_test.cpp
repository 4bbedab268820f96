// The draws of speakers and utterances, of a room and its impulse responses,
// and of a noise segment: which calls each makes on its stream, in order,
// and what it makes of their answers.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "mixsim/noise_sampling.h"
#include "mixsim/room_sampling.h"
#include "mixsim/speaker_sampling.h"
#include "scripted_draws.h"

namespace speech::mixsim {
namespace {

std::vector<std::string> repeated(const std::string& call, int times) {
  return std::vector<std::string>(static_cast<size_t>(times), call);
}

std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct SpeakerCase {
  const char* name;
  int64_t speakers;
  int64_t num_spk;
  std::vector<double> script;
  std::vector<std::pair<int64_t, int64_t>> picks;
  std::vector<std::string> calls;
};

class SpeakerDraws : public ::testing::TestWithParam<SpeakerCase> {};

TEST_P(SpeakerDraws, DrawSpeakerThenFileAndRejectRepeatsWhileUnseenRemain) {
  const SpeakerCase c = GetParam();
  auto log = std::make_shared<DrawLog>();
  ScriptedDraws rng("rng", log, c.script);
  bool counted = false;
  const auto picks = sample_speakers(rng, c.num_spk, [&] {
    counted = true;
    return c.speakers;
  });
  std::vector<std::pair<int64_t, int64_t>> got;
  for (const SpeakerPick& p : picks) got.emplace_back(p.speaker, p.file);
  EXPECT_EQ(got, c.picks);
  EXPECT_EQ(*log, c.calls);
  EXPECT_EQ(counted, c.num_spk > 0) << "the index is read only when speakers are wanted";
}

const char* const kSpk = "rng.choice(speakers)";
std::string files_of(int s) { return "rng.choice(files of speaker " + std::to_string(s) + ")"; }

INSTANTIATE_TEST_SUITE_P(
    Cases, SpeakerDraws,
    ::testing::Values(
        SpeakerCase{
            "rejected_repeat", 3, 2, {0, 1, 0, 2, 0}, {{0, 1}, {2, 0}}, {kSpk, files_of(0), kSpk, kSpk, files_of(2)}},
        // One speaker: every try is accepted, each with its own file draw.
        SpeakerCase{"one_speaker",
                    1,
                    3,
                    {0, 1, 0, 0, 0, 1},
                    {{0, 1}, {0, 0}, {0, 1}},
                    {kSpk, files_of(0), kSpk, files_of(0), kSpk, files_of(0)}},
        // Two speakers, a stream stuck on the first: 100 tries, then the
        // fill-up accepts repeats.
        SpeakerCase{"fill_up",
                    2,
                    3,
                    {},
                    {{0, 0}, {0, 0}, {0, 0}},
                    joined({{kSpk, files_of(0)}, repeated(kSpk, 99), {kSpk, files_of(0), kSpk, files_of(0)}})},
        SpeakerCase{"none_wanted", 5, 0, {}, {}, {}}, SpeakerCase{"negative", 5, -1, {}, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SpeakerDraws, EmptyIndexIsRefused) {
  auto log = std::make_shared<DrawLog>();
  ScriptedDraws rng("rng", log);
  EXPECT_THROW(sample_speakers(rng, 2, [] { return int64_t{0}; }), common::ValueError);
  EXPECT_TRUE(log->empty());
}

struct RoomCase {
  const char* name;
  int64_t rooms;
  int64_t files;
  int64_t num;
  bool same;
  std::vector<double> script;
  std::optional<std::vector<int64_t>> expected;
  std::vector<std::string> calls;
};

class RoomDraws : public ::testing::TestWithParam<RoomCase> {};

TEST_P(RoomDraws, OneRoomThenItsFiles) {
  const RoomCase c = GetParam();
  auto log = std::make_shared<DrawLog>();
  ScriptedDraws rng("rng", log, c.script);
  const auto drawn = sample_room_files(
      rng, c.rooms, [&](int64_t) { return c.files; }, c.num, c.same);
  EXPECT_EQ(drawn.has_value(), c.expected.has_value());
  if (drawn && c.expected) {
    EXPECT_EQ(drawn->room, static_cast<int64_t>(c.script.empty() ? 0 : c.script.front()));
    EXPECT_EQ(drawn->files, *c.expected);
  }
  EXPECT_EQ(*log, c.calls);
}

const char* const kRoom = "rng.choice(rooms)";
const char* const kFile = "rng.choice(files of room 1)";

INSTANTIATE_TEST_SUITE_P(
    Cases, RoomDraws,
    ::testing::Values(RoomCase{"no_rooms", 0, 2, 2, false, {}, std::nullopt, {}},
                      RoomCase{"room_without_files", 3, 0, 2, false, {1}, std::nullopt, {kRoom}},
                      RoomCase{"none_wanted", 3, 2, 0, false, {1}, std::vector<int64_t>{}, {kRoom}},
                      RoomCase{"same_for_all", 3, 2, 3, true, {1, 1}, std::vector<int64_t>{1, 1, 1}, {kRoom, kFile}},
                      // Exactly as many files as wanted: a sample, not choices.
                      RoomCase{"sampled",
                               3,
                               2,
                               2,
                               false,
                               {1, 1, 0},
                               std::vector<int64_t>{1, 0},
                               {kRoom, "rng.sample(files of room 1, 2)"}},
                      RoomCase{"too_few_files",
                               3,
                               2,
                               3,
                               false,
                               {1, 0, 1, 1},
                               std::vector<int64_t>{0, 1, 1},
                               {kRoom, kFile, kFile, kFile}}),
    [](const auto& info) { return std::string(info.param.name); });

struct NoiseCase {
  const char* name;
  int64_t total;
  double region_seconds;
  std::vector<double> script;
  std::vector<std::string> calls;
  int64_t region_begin, region_end;
};

class NoiseDraws : public ::testing::TestWithParam<NoiseCase> {};

// Rate 1000 Hz, segments of 300 samples: regions of region_seconds * 1000.
TEST_P(NoiseDraws, RegionThenOffsetInsideIt) {
  const NoiseCase c = GetParam();
  constexpr int64_t L = 300;
  auto log = std::make_shared<DrawLog>();
  ScriptedDraws rng("rng", log, c.script);
  const std::optional<RegionBounds> region = draw_noise_region(rng, c.total, c.region_seconds, 1000, L);
  ASSERT_TRUE(region.has_value());
  EXPECT_EQ(region->begin, c.region_begin);
  EXPECT_EQ(region->end, c.region_end);
  std::vector<float> noise(static_cast<size_t>(c.total));
  std::iota(noise.begin(), noise.end(), 1.0f);
  std::vector<float> out(L);
  cut_noise_segment(rng, common::samples_of(noise).subview(region->begin, region->size()), L, out.data());
  EXPECT_EQ(*log, c.calls);
  const int64_t start = c.calls.size() > 1 ? static_cast<int64_t>(c.script.at(1)) : 0;
  for (int64_t i = 0; i < L; ++i) {
    EXPECT_EQ(out[i], noise[region->begin + (start + i) % region->size()]) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoiseDraws,
    ::testing::Values(
        NoiseCase{"three_regions", 3125, 1.0, {2, 17}, {"rng.randrange(3)", "rng.randint(0, 700)"}, 2000, 3000},
        NoiseCase{"tail_unused", 1990, 1.0, {0, 5}, {"rng.randrange(1)", "rng.randint(0, 700)"}, 0, 1000},
        NoiseCase{"shorter_region", 625, 1.0, {0, 3}, {"rng.randrange(1)", "rng.randint(0, 325)"}, 0, 625},
        NoiseCase{"exactly_a_segment", 300, 1.0, {0}, {"rng.randrange(1)"}, 0, 300},
        NoiseCase{"one_more", 301, 1.0, {0, 1}, {"rng.randrange(1)", "rng.randint(0, 1)"}, 0, 301},
        // Shorter than a segment: repeated from its start.
        NoiseCase{"repeated", 125, 1.0, {0}, {"rng.randrange(1)"}, 0, 125},
        // No region length: regions of a segment each.
        NoiseCase{"segment_regions", 2000, 0.0, {4}, {"rng.randrange(6)"}, 1200, 1500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NoiseDraws, EmptyNoiseDrawsNothing) {
  auto log = std::make_shared<DrawLog>();
  ScriptedDraws rng("rng", log);
  EXPECT_FALSE(draw_noise_region(rng, 0, 10.0, 16000, 48000).has_value());
  EXPECT_TRUE(log->empty());
}

TEST(NoiseDraws, NoSegmentLengthIsRefusedBeforeAnyDraw) {
  auto log = std::make_shared<DrawLog>();
  ScriptedDraws rng("rng", log);
  EXPECT_THROW(draw_noise_region(rng, 100, 0.0, 16000, 0), common::ValueError);
  EXPECT_TRUE(log->empty());
}

}  // namespace
}  // namespace speech::mixsim
