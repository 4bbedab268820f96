#include "driver/main_channel.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "common/errors.h"

namespace speech::driver {
namespace {

std::vector<StreamStats> streams(std::initializer_list<std::pair<double, double>> energy_dur) {
  std::vector<StreamStats> out;
  int id = 0;
  for (const auto& [energy, dur] : energy_dur) out.push_back({std::to_string(id++), energy, dur});
  return out;
}

struct DecisionCase {
  const char* what;
  std::vector<StreamStats> stats;
  std::vector<size_t> candidates;
  size_t best;
};

TEST(MainChannelDecision, EnergyFirstThenDuration) {
  const DecisionCase cases[] = {
      {"single stream", streams({{1e-2, 1.0}}), {0}, 0},
      {"close energies, quieter is longer", streams({{1.0e-2, 1.0}, {0.95e-2, 2.0}}), {0, 1}, 1},
      {"far energies, duration ignored", streams({{1.0e-2, 1.0}, {0.8e-2, 9.0}}), {0}, 0},
      {"exactly at the threshold", streams({{1.0, 1.0}, {0.9, 2.0}}), {0, 1}, 1},
      {"equal durations, higher energy", streams({{0.95, 2.0}, {1.0, 2.0}}), {0, 1}, 1},
      {"full tie, first wins", streams({{1.0, 2.0}, {1.0, 2.0}}), {0, 1}, 0},
      {"candidates listed in stream order", streams({{0.5, 3.0}, {0.1, 9.0}, {0.48, 1.0}}), {0, 2}, 0},
  };
  for (const auto& c : cases) {
    const ChannelDecision d = decide_main_channel(c.stats, 0.9);
    EXPECT_TRUE(d.has_speech) << c.what;
    EXPECT_EQ(d.candidates, c.candidates) << c.what;
    EXPECT_EQ(d.best, c.best) << c.what;
  }
}

TEST(MainChannelDecision, NoSpeechAndBadRatio) {
  EXPECT_FALSE(decide_main_channel(streams({{0.0, 0.0}, {0.0, 1.0}}), 0.9).has_speech);
  EXPECT_THROW(check_energy_close_ratio(1.5), common::ValueError);
  EXPECT_THROW(check_energy_close_ratio(std::numeric_limits<double>::quiet_NaN()), common::ValueError);
  EXPECT_NO_THROW(check_energy_close_ratio(1.0));
}

TEST(MainChannelDecision, NanEnergyAfterTheFirstIsPassedOver) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const ChannelDecision d = decide_main_channel(streams({{1.0, 1.0}, {nan, 5.0}}), 0.9);
  EXPECT_EQ(d.candidates, std::vector<size_t>{0});
}

TEST(MainChannelLines, TextsAndNumberForms) {
  const std::vector<StreamStats> stats = streams({{1.0e-2, 1.234}, {0.95e-2, 2.0}});
  const ChannelDecision d = decide_main_channel(stats, 0.9);
  EXPECT_EQ(stream_stats_line(stats[0]), "  说话人0: 语音时长=1.23s, 平均能量=1.000000e-02");
  EXPECT_EQ(threshold_line(stats, d, 0.9), "  能量阈值=9.000000e-03 (= 0.90 * max_energy)，候选通道=[0, 1]");
  EXPECT_EQ(decision_line(stats, d), "  -> 主通道: 说话人1 (能量接近的候选中时长最长: 时长=2.00s, 能量=9.500000e-03)");
  const std::vector<StreamStats> one = streams({{2.5e-3, 0.5}});
  EXPECT_EQ(decision_line(one, decide_main_channel(one, 0.9)), "  -> 主通道: 说话人0 (能量明显最大=2.500000e-03, 时长=0.50s)");
  EXPECT_EQ(stream_stats_line({"3", 0.0, 0.0}), "  说话人3: 语音时长=0.00s, 平均能量=0.000000e+00");
}

}  // namespace
}  // namespace speech::driver
