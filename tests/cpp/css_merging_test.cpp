#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>

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
  sum_signals(a, b, 3, out);
  EXPECT_EQ(out[0], 1.25f);
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_EQ(out[2], 0.5f + 1e-8f);
}

}  // namespace
}  // namespace speech::css
