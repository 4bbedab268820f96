#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "css/selection.h"

namespace speech::css {
namespace {

constexpr int64_t kLength = 64;

std::vector<float> tone(int cycles, float amplitude = 1.0f) {
  std::vector<float> x(kLength);
  for (int64_t i = 0; i < kLength; ++i) x[i] = amplitude * std::sin(2.0 * M_PI * cycles * i / kLength);
  return x;
}

std::vector<float> plus(const std::vector<float>& a, const std::vector<float>& b) {
  std::vector<float> out(a.size());
  for (size_t i = 0; i < a.size(); ++i) out[i] = a[i] + b[i];
  return out;
}

struct ThresholdCase {
  double sisdr_threshold;
  double sisdr_threshold_prev;
  int64_t kept;
};

// A silent output measures exactly -80 dB against anything: equality refuses.
TEST(CssSelectionTest, BothComparisonsAreStrict) {
  const std::vector<float> a = tone(3), silent(kLength, 0.0f);
  const ThresholdCase cases[] = {{10, -10, 3}, {-80, -10, 1}, {-79.99, -10, 3}, {10, -80, 1}, {10, -79.99, 3}};
  for (const ThresholdCase& c : cases) {
    OutputSelector<float> selector(common::samples_of(a), {c.sisdr_threshold, c.sisdr_threshold_prev});
    for (const std::vector<float>* out : {&a, &silent, &silent}) {
      if (!selector.offer(common::samples_of(*out))) break;
    }
    EXPECT_EQ(selector.kept_count(), c.kept) << c.sisdr_threshold << " " << c.sisdr_threshold_prev;
  }
}

TEST(CssSelectionTest, FirstRefusalEndsTheScan) {
  const std::vector<float> a = tone(3), b = tone(7), mix = plus(a, b);
  OutputSelector<float> selector(common::samples_of(mix), {10.0, -10.0});
  EXPECT_TRUE(selector.offer(common::samples_of(mix)));   // output 0 needs no test
  EXPECT_FALSE(selector.offer(common::samples_of(mix)));  // a copy of the mixture
  EXPECT_TRUE(selector.stopped());
  EXPECT_FALSE(selector.offer(common::samples_of(b)));    // would pass, but comes too late
  EXPECT_EQ(selector.kept_count(), 1);
}

TEST(CssSelectionTest, EarlierOutputsCountOnlyAgainstTheirBest) {
  const std::vector<float> a = tone(3), b = tone(7), mix = plus(a, b);
  std::vector<float> near_a = plus(a, tone(7, 0.01f));
  OutputSelector<float> selector(common::samples_of(mix), {10.0, -10.0});
  EXPECT_TRUE(selector.offer(common::samples_of(b)));
  EXPECT_FALSE(selector.offer(common::samples_of(near_a)) && selector.offer(common::samples_of(a)));
  // near_a passes against b alone; a copy of near_a is then refused by its likeness to it.
  OutputSelector<float> again(common::samples_of(mix), {10.0, -10.0});
  EXPECT_TRUE(again.offer(common::samples_of(b)));
  EXPECT_TRUE(again.offer(common::samples_of(near_a)));
  EXPECT_FALSE(again.offer(common::samples_of(a)));
}

TEST(CssSelectionTest, NanAgainstTheMixtureRefusesButEarlierNanIsIgnored) {
  const std::vector<float> a = tone(3), b = tone(7), mix = plus(a, b);
  const std::vector<float> broken(kLength, std::nanf(""));
  OutputSelector<float> refusing(common::samples_of(mix), {10.0, -10.0});
  EXPECT_TRUE(refusing.offer(common::samples_of(a)));
  EXPECT_FALSE(refusing.offer(common::samples_of(broken)));
  OutputSelector<float> ignoring(common::samples_of(mix), {10.0, -10.0});
  EXPECT_TRUE(ignoring.offer(common::samples_of(broken)));
  EXPECT_TRUE(ignoring.offer(common::samples_of(b)));
}

TEST(CssSelectionTest, QualityValues) {
  const double minus_inf = -std::numeric_limits<double>::infinity();
  const std::vector<float> a = tone(3), b = tone(7), leak = plus(b, tone(3, 0.2f));
  EXPECT_EQ(separation_quality({common::samples_of(a)}), std::vector<double>{minus_inf});
  EXPECT_TRUE(separation_quality({}).empty());
  const std::vector<double> q = separation_quality({common::samples_of(a), common::samples_of(b), common::samples_of(leak)});
  ASSERT_EQ(q.size(), 3u);
  EXPECT_GT(q[1], 10.0);                 // b still holds most of the leak
  EXPECT_NEAR(q[1], q[2], 0.5);
  EXPECT_LT(q[0], q[1]);
  const std::vector<float> broken(kLength, std::nanf(""));
  EXPECT_EQ(separation_quality({common::samples_of(broken), common::samples_of(broken)}),
            (std::vector<double>{minus_inf, minus_inf}));
}

}  // namespace
}  // namespace speech::css
