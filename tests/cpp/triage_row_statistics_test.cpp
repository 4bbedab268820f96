#include <gtest/gtest.h>

#include <ATen/ATen.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "triage/row_statistics.h"

namespace speech::triage {
namespace {

// Rows far from zero with a small spread, where a naive sum of squares
// would lose the spread in float32.
at::Tensor feature_map() {
  at::manual_seed(7);
  return at::randn({5, 97}) * 0.01 + at::arange(5, at::kFloat).unsqueeze(1) * 300.0;
}

TEST(TriageRowStatisticsTest, PiecesGiveTheWholeMapsStatistics) {
  const at::Tensor map = feature_map();
  const at::Tensor whole = map.to(at::kDouble);
  const std::vector<std::vector<int64_t>> splits = {{97}, {1, 96}, {48, 49}, {10, 0, 30, 57}, {1, 1, 1, 94}};
  for (const std::vector<int64_t>& split : splits) {
    RowStatistics statistics;
    int64_t first = 0;
    for (const int64_t count : split) {
      statistics.add(map.narrow(1, first, count));
      first += count;
    }
    EXPECT_EQ(statistics.frames(), 97);
    EXPECT_TRUE(at::allclose(statistics.mean(), whole.mean(1), 1e-12, 1e-9)) << split.size();
    EXPECT_TRUE(at::allclose(statistics.sample_variance(), whole.var(1, /*unbiased=*/true), 1e-9, 1e-12))
        << split.size();
  }
}

TEST(TriageRowStatisticsTest, OneFrameHasNoSpread) {
  RowStatistics statistics;
  statistics.add(at::full({3, 1}, 2.5));
  EXPECT_TRUE(at::equal(statistics.mean(), at::full({3}, 2.5, at::kDouble)));
  EXPECT_TRUE(at::equal(statistics.sample_variance(), at::zeros({3}, at::kDouble)));
}

TEST(TriageRowStatisticsTest, NotANumberStaysVisible) {
  at::Tensor map = feature_map();
  map[2][40] = std::numeric_limits<float>::quiet_NaN();
  RowStatistics statistics;
  statistics.add(map.narrow(1, 0, 50));
  statistics.add(map.narrow(1, 50, 47));
  EXPECT_TRUE(std::isnan(statistics.mean()[2].item<double>()));
  EXPECT_FALSE(std::isnan(statistics.mean()[1].item<double>()));
}

TEST(TriageRowStatisticsTest, MisuseIsRefused) {
  RowStatistics statistics;
  EXPECT_THROW(statistics.mean(), std::logic_error);
  EXPECT_THROW(statistics.sample_variance(), std::logic_error);
  EXPECT_THROW(statistics.add(at::zeros({4})), std::invalid_argument);
  EXPECT_THROW(statistics.add(at::zeros({4, 2}, at::kLong)), std::invalid_argument);
  statistics.add(at::zeros({4, 2}));
  EXPECT_THROW(statistics.add(at::zeros({3, 2})), std::invalid_argument);
}

}  // namespace
}  // namespace speech::triage
