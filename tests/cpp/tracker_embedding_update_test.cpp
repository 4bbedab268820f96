#include "tracker/embedding_update.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace speech::tracker {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMinusInf = -std::numeric_limits<double>::infinity();

void expect_near(const Vector& actual, const Vector& expected, double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

TEST(UpdateStrategyTest, TheFiveNamesAndNothingElse) {
  EXPECT_EQ(update_strategy_named("no_update"), UpdateStrategy::kNoUpdate);
  EXPECT_EQ(update_strategy_named("replace"), UpdateStrategy::kReplace);
  EXPECT_EQ(update_strategy_named("ema"), UpdateStrategy::kEma);
  EXPECT_EQ(update_strategy_named("history_mean"), UpdateStrategy::kHistoryMean);
  EXPECT_EQ(update_strategy_named("ema_with_history"), UpdateStrategy::kEmaWithHistory);
  for (const char* other : {"", "EMA", "ema ", "bogus"}) EXPECT_FALSE(update_strategy_named(other)) << other;
  EXPECT_STREQ(unknown_strategy_error("bogus").what(), "未知的embedding更新策略: bogus");
}

struct GateCase {
  std::optional<double> quality;
  bool finite;
  bool accepted;
};

class UpdateGateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(UpdateGateTest, PoorSeparationAndNonFiniteVectorsAreRefused) {
  const GateCase& c = GetParam();
  EXPECT_EQ(accepts_update(c.quality, -10.0, c.finite), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateGateTest,
                         ::testing::Values(GateCase{-10.0, true, true}, GateCase{-10.5, true, true},
                                           GateCase{-9.5, true, false}, GateCase{std::nullopt, true, true},
                                           GateCase{kMinusInf, true, true}, GateCase{kNaN, true, true},
                                           GateCase{std::nullopt, false, false}, GateCase{-20.0, false, false}));

TEST(EmbeddingUpdateTest, NoUpdateAndReplaceComputeNothing) {
  const EmbeddingUpdate none = plan_embedding_update(UpdateStrategy::kNoUpdate, 0.3, 40, {1, 0}, {0, 1}, nullptr);
  EXPECT_FALSE(none.updated());
  EXPECT_FALSE(none.touches_history());
  const EmbeddingUpdate replace = plan_embedding_update(UpdateStrategy::kReplace, 0.3, 40, {1, 0}, {0, 3}, nullptr);
  EXPECT_EQ(replace.stored, EmbeddingUpdate::Stored::kFresh);
  EXPECT_FALSE(replace.touches_history());
}

struct BlendCase {
  const char* name;
  UpdateStrategy strategy;
  Vector old;
  Vector fresh;
  Vector stored;
  std::optional<Vector> appended;  // the history entry that is not the fresh vector itself
};

class FirstUpdateTest : public ::testing::TestWithParam<BlendCase> {};

TEST_P(FirstUpdateTest, StoredVectorAndHistory) {
  const BlendCase& c = GetParam();
  const EmbeddingUpdate update = plan_embedding_update(c.strategy, 0.3, 40, c.old, c.fresh, nullptr);
  EXPECT_EQ(update.stored, EmbeddingUpdate::Stored::kComputed);
  expect_near(update.computed, c.stored, 5e-5);
  const bool history = c.strategy != UpdateStrategy::kEma;
  EXPECT_EQ(update.touches_history(), history);
  EXPECT_EQ(update.seeds_history, history);
  EXPECT_FALSE(update.drops_oldest);
  EXPECT_EQ(update.appends_fresh, c.strategy == UpdateStrategy::kHistoryMean);
  ASSERT_EQ(update.appended.has_value(), c.appended.has_value());
  if (c.appended) expect_near(*update.appended, *c.appended, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstUpdateTest,
    ::testing::Values(
        BlendCase{"ema", UpdateStrategy::kEma, {1, 0}, {0, 1}, {0.9191, 0.3939}, std::nullopt},
        BlendCase{"history_mean", UpdateStrategy::kHistoryMean, {1, 0}, {0, 1}, {0.7071, 0.7071}, std::nullopt},
        BlendCase{
            "ema_with_history", UpdateStrategy::kEmaWithHistory, {2, 0}, {0, 2}, {0.9848, 0.1738}, Vector{1.4, 0.6}}),
    [](const auto& info) { return info.param.name; });

TEST(EmbeddingUpdateTest, LaterUpdatesAverageTheWholeHistory) {
  const std::vector<Vector> history{{2, 0}, {0, 2}};
  const EmbeddingUpdate update =
      plan_embedding_update(UpdateStrategy::kHistoryMean, 0.3, 40, {0.7, 0.7}, {2, 2}, &history);
  EXPECT_FALSE(update.seeds_history);
  EXPECT_TRUE(update.appends_fresh);
  // mean of (2,0), (0,2), (2,2) = (4/3, 4/3), normalised.
  expect_near(update.computed, {0.70710678, 0.70710678}, 1e-7);
}

struct CapCase {
  double cap;
  size_t entries_before;  // 0: no list yet (seeded with the old vector)
  bool drops;
};

class HistoryCapTest : public ::testing::TestWithParam<CapCase> {};

TEST_P(HistoryCapTest, OneOldestEntryGoesPastTheCap) {
  const CapCase& c = GetParam();
  const std::vector<Vector> history(c.entries_before, Vector{1, 0});
  const EmbeddingUpdate update = plan_embedding_update(UpdateStrategy::kHistoryMean, 0.3, c.cap, {1, 0}, {0, 1},
                                                       c.entries_before == 0 ? nullptr : &history);
  EXPECT_EQ(update.drops_oldest, c.drops);
  if (c.cap <= 1) expect_near(update.computed, {0, 1 / (1 + 1e-8)}, 1e-12);  // only the newest is left
}

INSTANTIATE_TEST_SUITE_P(Cases, HistoryCapTest,
                         ::testing::Values(CapCase{40, 0, false}, CapCase{40, 39, false}, CapCase{40, 40, true},
                                           CapCase{3, 2, false}, CapCase{3, 3, true}, CapCase{1, 0, true},
                                           CapCase{1, 1, true}, CapCase{0, 0, true}, CapCase{-2, 1, true}));

TEST(EmbeddingUpdateTest, ZeroMeanStoresZeroAndMismatchedLengthsRaise) {
  const EmbeddingUpdate zero = plan_embedding_update(UpdateStrategy::kHistoryMean, 0.3, 40, {1, -1}, {-1, 1}, nullptr);
  EXPECT_EQ(zero.computed, (Vector{0.0, 0.0}));
  EXPECT_THROW(plan_embedding_update(UpdateStrategy::kEma, 0.3, 40, {1, 0}, {1, 0, 0}, nullptr), common::ValueError);
}

}  // namespace
}  // namespace speech::tracker
