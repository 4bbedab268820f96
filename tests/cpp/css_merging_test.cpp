#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "css/merging.h"

namespace speech::css {
namespace {

MergeCandidate scan(int64_t n, std::map<std::pair<int64_t, int64_t>, double> sims, double fallback = 0.0) {
  return best_merge_pair(n, [&](int64_t i, int64_t j) {
    const auto it = sims.find({i, j});
    return it == sims.end() ? fallback : it->second;
  });
}

TEST(CssMergingTest, TiesGoToTheFirstPairInRowOrder) {
  const MergeCandidate c = scan(3, {{{0, 1}, 0.9}, {{0, 2}, 0.9}, {{1, 2}, 0.9}});
  EXPECT_EQ(c.first, 0);
  EXPECT_EQ(c.second, 1);
  const MergeCandidate d = scan(3, {{{1, 2}, 0.4}, {{0, 2}, 0.5}});
  EXPECT_EQ(d.first, 0);
  EXPECT_EQ(d.second, 2);
  EXPECT_DOUBLE_EQ(d.similarity, 0.5);
}

TEST(CssMergingTest, ThresholdIsInclusive) {
  const MergeCandidate c = scan(2, {{{0, 1}, 0.7}});
  EXPECT_TRUE(should_merge(c, 0.7));
  EXPECT_FALSE(should_merge(c, std::nextafter(0.7, 1.0)));
}

// Similarities of exactly -1 (or NaN) select no pair; a threshold at or
// below -1 must then merge nothing rather than an absent pair.
TEST(CssMergingTest, NoPairNoMergeWhateverTheThreshold) {
  for (const double fallback : {-1.0, std::nan("")}) {
    const MergeCandidate c = scan(3, {}, fallback);
    EXPECT_FALSE(c.found());
    EXPECT_DOUBLE_EQ(c.similarity, -1.0);
    EXPECT_FALSE(should_merge(c, -1.0));
    EXPECT_FALSE(should_merge(c, -2.0));
  }
  EXPECT_FALSE(scan(1, {}).found());
  EXPECT_TRUE(should_merge(scan(2, {{{0, 1}, -0.99}}), -1.0));
}

TEST(CssMergingTest, SumIsElementWise) {
  const float a[] = {1.0f, -2.0f, 0.5f};
  const float b[] = {0.25f, 2.0f, 1e-8f};
  float out[3];
  sum_signals<float>({a, 3}, {b, 3}, out);
  EXPECT_EQ(out[0], 1.25f);
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_EQ(out[2], 0.5f + 1e-8f);
}

// ---------------------------------------------------------------- the merge loop

// Signals are labelled by the set of original signals they hold; the
// similarity of two labels comes from a table, a sum's embedding fails for
// the labels in `failing`. Every call is logged in order.
class ScriptedSignals : public MergeCollaborators {
 public:
  using Label = std::set<int>;

  ScriptedSignals(int count, std::map<std::pair<Label, Label>, double> sims, std::set<Label> failing = {})
      : sims_(std::move(sims)), failing_(std::move(failing)) {
    for (int k = 0; k < count; ++k) labels.push_back({k});
  }

  double similarity(int64_t i, int64_t j) override {
    const Label& a = labels[static_cast<size_t>(i)];
    const Label& b = labels[static_cast<size_t>(j)];
    auto it = sims_.find({a, b});
    if (it == sims_.end()) it = sims_.find({b, a});
    return it == sims_.end() ? 0.0 : it->second;
  }

  bool embed_sum(int64_t first, int64_t second) override {
    pending_ = labels[static_cast<size_t>(first)];
    pending_.insert(labels[static_cast<size_t>(second)].begin(), labels[static_cast<size_t>(second)].end());
    log.push_back("embed " + std::to_string(first) + "+" + std::to_string(second));
    return failing_.count(pending_) == 0;
  }

  void take_sum(int64_t first, int64_t second, const MergePick& pick) override {
    labels[static_cast<size_t>(first)] = pending_;
    labels.erase(labels.begin() + second);
    picks.push_back(pick);
  }

  void report(const std::string& line) override { log.push_back(line); }

  std::vector<Label> labels;
  std::vector<std::string> log;
  std::vector<MergePick> picks;

 private:
  std::map<std::pair<Label, Label>, double> sims_;
  std::set<Label> failing_;
  Label pending_;
};

// Only the loop's lines (the header and the matrix are checked apart).
std::vector<std::string> loop_lines(const std::vector<std::string>& log, size_t count) {
  return std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(2 + count), log.end());
}

TEST(CssMergeLoopTest, ReportsTheSquareThenMergesTheBestPair) {
  ScriptedSignals signals(3, {{{{0}, {1}}, 0.812}, {{{0}, {2}}, 0.104}, {{{1}, {2}}, -1.0}});
  std::vector<MergeEntry> entries(3);
  merge_alike_signals(entries, 0.9, "0.9", signals);
  EXPECT_EQ(signals.log, (std::vector<std::string>{
                             "    [信号合并检查] 开始检查3个信号的embedding相似度（阈值=0.9）",
                             "    [信号合并检查] 信号间embedding相似度矩阵:",
                             "           信号0: [  -  , 0.812, 0.104]",
                             "           信号1: [0.812,   -  , -1.000]",
                             "           信号2: [0.104, -1.000,   -  ]",
                             "    [信号合并检查] 最大相似度=0.812 < 阈值0.9，无需合并",
                         }));
  EXPECT_EQ(entries.size(), 3u);
}

struct LoopCase {
  const char* name;
  int count;
  std::map<std::pair<std::set<int>, std::set<int>>, double> sims;
  std::set<std::set<int>> failing;
  double threshold;
  std::vector<std::set<int>> labels;
  std::vector<std::string> lines;
};

class CssMergeSequenceTest : public ::testing::TestWithParam<LoopCase> {};

TEST_P(CssMergeSequenceTest, Sequence) {
  const LoopCase& c = GetParam();
  ScriptedSignals signals(c.count, c.sims, c.failing);
  std::vector<MergeEntry> entries(static_cast<size_t>(c.count));
  char text[32];
  std::snprintf(text, sizeof text, "%g", c.threshold);
  merge_alike_signals(entries, c.threshold, text, signals);
  EXPECT_EQ(signals.labels, c.labels);
  EXPECT_EQ(entries.size(), c.labels.size());
  EXPECT_EQ(loop_lines(signals.log, static_cast<size_t>(c.count)), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CssMergeSequenceTest,
    ::testing::Values(
        LoopCase{"tie_goes_to_the_first_pair", 3, {{{{0}, {1}}, 0.9}, {{{0}, {2}}, 0.9}, {{{0, 1}, {2}}, 0.1}}, {},
                 0.7, {{0, 1}, {2}},
                 {"    [信号合并 #1] 信号0和信号1的embedding相似度=0.900 >= 0.7，进行合并", "embed 0+1",
                  "    [信号合并 #1] 合并成功，当前剩余2个有效信号",
                  "    [信号合并检查] 最大相似度=0.100 < 阈值0.7，无需合并",
                  "    [信号合并完成] 共进行1次合并，最终2个有效信号"}},
        LoopCase{"down_to_one", 3, {{{{1}, {2}}, 0.75}, {{{0}, {1, 2}}, 0.7}}, {}, 0.7, {{0, 1, 2}},
                 {"    [信号合并 #1] 信号1和信号2的embedding相似度=0.750 >= 0.7，进行合并", "embed 1+2",
                  "    [信号合并 #1] 合并成功，当前剩余2个有效信号",
                  "    [信号合并 #2] 信号0和信号1的embedding相似度=0.700 >= 0.7，进行合并", "embed 0+1",
                  "    [信号合并 #2] 合并成功，当前剩余1个有效信号",
                  "    [信号合并完成] 共进行2次合并，最终1个有效信号"}},
        LoopCase{"sum_without_embedding", 3, {{{{0}, {1}}, 0.9}}, {{0, 1}}, 0.7, {{0}, {1}, {2}},
                 {"    [信号合并 #1] 信号0和信号1的embedding相似度=0.900 >= 0.7，进行合并", "embed 0+1",
                  "    [信号合并 #1] 合并后embedding提取失败，跳过此次合并",
                  "    [信号合并完成] 共进行1次合并，最终3个有效信号"}},
        // Every similarity at -1 selects no pair: nothing merges, nothing is
        // reported as short of the threshold.
        LoopCase{"threshold_minus_one_without_a_pair", 3,
                 {{{{0}, {1}}, -1.0}, {{{0}, {2}}, -1.0}, {{{1}, {2}}, -1.0}}, {}, -1.0, {{0}, {1}, {2}}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(CssMergeLoopTest, NothingForOneSignalOrNone) {
  for (const int count : {0, 1}) {
    ScriptedSignals signals(count, {});
    std::vector<MergeEntry> entries(static_cast<size_t>(count));
    merge_alike_signals(entries, -5.0, "-5.0", signals);
    EXPECT_TRUE(signals.log.empty());
  }
}

TEST(CssMergeLoopTest, MergedEntryTakesTheLargerValues) {
  ScriptedSignals signals(3, {{{{0}, {2}}, 0.9}});
  std::vector<MergeEntry> entries = {{-20.0, 300}, {5.0, 100}, {-10.0, 300}};
  merge_alike_signals(entries, 0.7, "0.7", signals);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].quality, -10.0);
  EXPECT_EQ(entries[0].speech_samples, 300);
  EXPECT_EQ(entries[1].quality, 5.0);  // the former signal 1 moved up
  ASSERT_EQ(signals.picks.size(), 1u);
  EXPECT_TRUE(signals.picks[0].quality_from_second);
  EXPECT_FALSE(signals.picks[0].speech_from_second);  // equal values keep the first
  const MergePick nan_pick = larger_values({1.0, 1.0}, {std::nan(""), 2.0});
  EXPECT_FALSE(nan_pick.quality_from_second);
  EXPECT_TRUE(nan_pick.speech_from_second);
}

}  // namespace
}  // namespace speech::css
