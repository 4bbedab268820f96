#include "tracker/speaker_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"

namespace speech::tracker {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMinusInf = -std::numeric_limits<double>::infinity();

// The constructor's defaults: bars 0.6 / 0.22, drop 0.05, 0.8 s at 16 kHz.
const MatchSettings kSettings{};

SignalEvidence signal(std::optional<double> quality = std::nullopt, std::optional<double> speech = std::nullopt) {
  return SignalEvidence{true, quality, speech};
}
const SignalEvidence kNoEmbedding{false, std::nullopt, std::nullopt};

// ---------------------------------------------------------------- the ladder

struct LadderCase {
  const char* name;
  double sim;
  std::optional<double> quality;
  std::optional<double> speech;
  PairDecision decision;
};

class PairLadderTest : public ::testing::TestWithParam<LadderCase> {};

TEST_P(PairLadderTest, FirstCaseThatHolds) {
  const LadderCase& c = GetParam();
  EXPECT_EQ(decide_pair(c.sim, judge_signal(kSettings, signal(c.quality, c.speech))), c.decision);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PairLadderTest,
    ::testing::Values(
        LadderCase{"within_the_allowance", 0.6 - 0.5e-6, -20.0, 12800, PairDecision::kMatch},
        LadderCase{"beyond_the_allowance", 0.6 - 2e-6, -20.0, 12800, PairDecision::kNewSpeakerMark},
        LadderCase{"short_lowers_the_bar", 0.56, -20.0, 12799, PairDecision::kMatch},
        LadderCase{"exactly_the_short_limit_is_not_short", 0.56, -20.0, 12800, PairDecision::kNewSpeakerMark},
        LadderCase{"short_below_both_bars_is_forced", 0.54, -20.0, 12799, PairDecision::kForcedMatch},
        // The match case does not look at reliability.
        LadderCase{"poor_but_alike_matches", 0.9, 5.0, std::nullopt, PairDecision::kMatch},
        LadderCase{"poor_between_the_bars", 0.3, 5.0, std::nullopt, PairDecision::kForcedMatch},
        LadderCase{"poor_within_the_low_allowance", 0.22 - 0.5e-6, 5.0, std::nullopt, PairDecision::kForcedMatch},
        LadderCase{"poor_beyond_the_low_allowance", 0.22 - 2e-6, 5.0, std::nullopt, PairDecision::kSkip},
        LadderCase{"poor_and_short_below_the_low_bar", 0.1, 3.0, 4000, PairDecision::kSkip},
        LadderCase{"quality_at_the_limit_is_not_poor", 0.3, -10.0, std::nullopt, PairDecision::kNewSpeakerMark},
        LadderCase{"nan_quality_is_not_poor", 0.3, kNaN, std::nullopt, PairDecision::kNewSpeakerMark},
        LadderCase{"alone_in_its_window", 0.3, kMinusInf, std::nullopt, PairDecision::kNewSpeakerMark},
        LadderCase{"no_lists_at_all", 0.3, std::nullopt, std::nullopt, PairDecision::kNewSpeakerMark}),
    [](const auto& info) { return info.param.name; });

TEST(SignalJudgementTest, ShortSpeechLowersBothBarsAndNamesItsReasons) {
  const SignalJudgement judgement = judge_signal(kSettings, signal(3.0, 4000));
  EXPECT_NEAR(judgement.similarity_threshold, 0.55, 1e-12);
  EXPECT_NEAR(judgement.low_similarity_threshold, 0.17, 1e-12);
  EXPECT_FALSE(judgement.reliable());
  EXPECT_EQ(reasons_text(judgement.why), "分离质量差:3.0dB, 语音过短:0.25s");
  const SignalJudgement clean = judge_signal(kSettings, signal(-20.0, 20000));
  EXPECT_EQ(clean.similarity_threshold, 0.6);
  EXPECT_TRUE(clean.reliable());
  EXPECT_EQ(reasons_text(clean.why), "");
}

// ---------------------------------------------------------------- whole calls

// Similarities from a table, a brute-force optimal assignment, and a store
// that hands out ids from `next_id`; every call is logged in order.
class ScriptedStore : public MatchCollaborators {
 public:
  ScriptedStore(std::vector<std::vector<double>> sims, int64_t next_id) : sims_(std::move(sims)), next_id_(next_id) {}

  double similarity(int64_t signal, int64_t column) override {
    log.push_back("sim " + std::to_string(signal) + "," + std::to_string(column));
    return sims_[static_cast<size_t>(signal)][static_cast<size_t>(column)];
  }

  std::vector<std::pair<int64_t, int64_t>> assign(const std::vector<double>& cost, int64_t rows,
                                                  int64_t columns) override {
    log.push_back("assign " + std::to_string(rows) + "x" + std::to_string(columns));
    costs = cost;
    if (scripted_pairs) return *scripted_pairs;
    return best_assignment(cost, rows, columns);
  }

  bool update_speaker(int64_t global_id, int64_t signal) override {
    log.push_back("update " + std::to_string(global_id) + "," + std::to_string(signal));
    return update_result;
  }

  int64_t create_speaker(int64_t signal) override {
    log.push_back("create " + std::to_string(signal));
    return next_id_++;
  }

  void report(const std::string& line) override { log.push_back(line); }

  std::vector<std::string> log;
  std::vector<double> costs;
  bool update_result = true;
  std::optional<std::vector<std::pair<int64_t, int64_t>>> scripted_pairs;

 private:
  // Tries every injective pairing of the smaller side; ascending rows.
  static std::vector<std::pair<int64_t, int64_t>> best_assignment(const std::vector<double>& cost, int64_t rows,
                                                                  int64_t columns) {
    std::vector<int64_t> order(static_cast<size_t>(std::max(rows, columns)));
    std::iota(order.begin(), order.end(), 0);
    double best = std::numeric_limits<double>::infinity();
    std::vector<std::pair<int64_t, int64_t>> best_pairs;
    do {
      // order[r] is row r's column when rows <= columns, else column c's row.
      std::vector<std::pair<int64_t, int64_t>> pairs;
      double total = 0.0;
      for (int64_t i = 0; i < std::min(rows, columns); ++i) {
        const int64_t r = rows <= columns ? i : order[static_cast<size_t>(i)];
        const int64_t c = rows <= columns ? order[static_cast<size_t>(i)] : i;
        pairs.emplace_back(r, c);
        total += cost[static_cast<size_t>(r * columns + c)];
      }
      if (total < best - 1e-12) {
        best = total;
        std::sort(pairs.begin(), pairs.end());
        best_pairs = pairs;
      }
    } while (std::next_permutation(order.begin(), order.end()));
    return best_pairs;
  }

  std::vector<std::vector<double>> sims_;
  int64_t next_id_;
};

TEST(MatchSignalsTest, EmptyStoreFoundsSpeakersButNotFromPoorSignals) {
  ScriptedStore store({}, 0);
  // Shortness plays no part while the store is empty.
  const MatchResult result =
      match_signals(kSettings, {signal(-20.0, 1), kNoEmbedding, signal(5.0), signal(-10.0, 1)}, {}, store);
  EXPECT_EQ(result.global_ids, (std::vector<int64_t>{0, -1, -1, 1}));
  EXPECT_TRUE(result.similarities.empty());
  EXPECT_EQ(store.log, (std::vector<std::string>{
                           "create 0",
                           "    [跳过创建] 说话人2分离质量差（max_inter_sisdr=5.0dB），不创建新说话人",
                           "create 3",
                       }));
}

TEST(MatchSignalsTest, FullWindowInOrder) {
  // Signal 0 matches speaker 0; signal 1, poorly separated, is forced onto
  // speaker 1; signal 2 has no embedding; signal 3 is unpaired and founds
  // speaker 2; stored ids are 0 and 1.
  ScriptedStore store({{0.9, 0.0}, {0.0, 0.3}, {0.0, 0.0}, {0.1, 0.1}}, 2);
  const MatchResult result = match_signals(
      kSettings, {signal(kMinusInf, 16000), signal(5.0, 16000), kNoEmbedding, signal(-20.0)}, {0, 1}, store);
  EXPECT_EQ(result.global_ids, (std::vector<int64_t>{0, 1, -1, 2}));
  EXPECT_EQ(result.similarities, (std::vector<double>{0.9, 0.0, 0.0, 0.3, 0.0, 0.0, 0.1, 0.1}));
  ASSERT_EQ(store.costs.size(), 8u);
  EXPECT_DOUBLE_EQ(store.costs[0], 1.0 - 0.9);
  EXPECT_EQ(store.log,
            (std::vector<std::string>{
                "sim 0,0",
                "sim 0,1",
                "sim 1,0",
                "sim 1,1",
                "sim 3,0",
                "sim 3,1",
                "    [调试] 相似度矩阵 (当前4人 x 全局2人):",
                "           当前说话人0: [spk0:0.900, spk1:0.000], 分离质量=-infdB, 语音时长=1.00s",
                "           当前说话人1: [spk0:0.000, spk1:0.300], 分离质量=5.0dB, 语音时长=1.00s",
                "           当前说话人2: [spk0:0.000, spk1:0.000]",
                "           当前说话人3: [spk0:0.100, spk1:0.100], 分离质量=-20.0dB",
                "assign 4x2",
                "update 0,0",
                "    当前说话人0 匹配到全局说话人0，相似度: 0.900（更新embedding）",
                "    当前说话人1 强制匹配到全局说话人1（分离质量差:5.0dB，相似度0.300 >= 低阈值0.22，不更新embedding）",
                "create 3",
                "    当前说话人3 创建为新全局说话人2（embedding可靠）",
            }));
}

TEST(MatchSignalsTest, RefusedUpdateAndNewSpeakerMarks) {
  // Signal 0 matches without update; signal 1 is marked, then founds speaker
  // 5; signal 2 is skipped and gets the no-new-speaker line as well.
  ScriptedStore store({{0.95, 0.0, 0.0}, {0.0, 0.3, 0.0}, {0.0, 0.0, 0.1}}, 5);
  store.update_result = false;
  const MatchResult result =
      match_signals(kSettings, {signal(-5.0, 20000), signal(-20.0, 20000), signal(3.0, 4000)}, {0, 3, 4}, store);
  EXPECT_EQ(result.global_ids, (std::vector<int64_t>{0, 5, -1}));
  const std::vector<std::string> tail(store.log.end() - 6, store.log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "    当前说话人0 匹配到全局说话人0，相似度: 0.950（分离质量差，不更新embedding）",
                      "    当前说话人1 与最佳匹配全局说话人3相似度 0.300 低于阈值 0.60，embedding可靠，标记为新说话人",
                      "    当前说话人2 跳过（分离质量差:3.0dB, 语音过短:0.25s，相似度0.100 < "
                      "低阈值0.17，embedding不可靠，不创建新说话人）",
                      "create 1",
                      "    当前说话人1 创建为新全局说话人5（embedding可靠）",
                      "    当前说话人2 不创建新说话人（分离质量差:3.0dB, 语音过短:0.25s，embedding不可靠）",
                  }));
}

TEST(MatchSignalsTest, NoSignalsAgainstAStore) {
  ScriptedStore store({}, 2);
  const MatchResult result = match_signals(kSettings, {}, {0, 1}, store);
  EXPECT_TRUE(result.global_ids.empty());
  EXPECT_TRUE(result.similarities.empty());
  EXPECT_EQ(store.log, (std::vector<std::string>{"    [调试] 相似度矩阵 (当前0人 x 全局2人):", "assign 0x2"}));
}

// A solver that names a row or column outside the matrix must not make the
// ladder read beyond it; nothing is decided then.
TEST(MatchSignalsTest, AssignmentOutsideTheMatrixIsRefused) {
  for (const auto& bad : {std::pair<int64_t, int64_t>{1, 0}, {0, 1}, {-1, 0}}) {
    ScriptedStore store({{0.9}}, 1);
    store.scripted_pairs = std::vector<std::pair<int64_t, int64_t>>{{0, 0}, bad};
    EXPECT_THROW(match_signals(kSettings, {signal()}, {0}, store), common::ValueError);
    EXPECT_EQ(std::count(store.log.begin(), store.log.end(), "update 0,0"), 0);
  }
}

TEST(FirstSegmentTest, NewSpeakersInOrderAndNoneForMissing) {
  int64_t next = 7;
  std::vector<int64_t> created;
  const auto ids = first_segment_ids({true, false, true}, [&](int64_t k) {
    created.push_back(k);
    return next++;
  });
  EXPECT_EQ(ids, (std::vector<int64_t>{7, -1, 8}));
  EXPECT_EQ(created, (std::vector<int64_t>{0, 2}));
}

}  // namespace
}  // namespace speech::tracker
