#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "metrics/pit.h"
#include "metrics/sisdr.h"

namespace {

using speech::metrics::permutation_table;

std::vector<int64_t> row(const at::Tensor& table, int64_t r) {
  const at::Tensor x = table[r].contiguous();
  return {x.data_ptr<int64_t>(), x.data_ptr<int64_t>() + x.numel()};
}

class PermutationTableTest : public ::testing::TestWithParam<int64_t> {};

TEST_P(PermutationTableTest, AllOrderingsLexicographicIdentityFirst) {
  const int64_t n = GetParam();
  const at::Tensor table = permutation_table(n);
  int64_t count = 1;
  for (int64_t k = 2; k <= n; ++k) count *= k;
  ASSERT_EQ(table.scalar_type(), at::kLong);
  ASSERT_EQ(table.size(0), count);
  ASSERT_EQ(table.size(1), n);
  std::vector<int64_t> identity(n);
  for (int64_t k = 0; k < n; ++k) identity[k] = k;
  EXPECT_EQ(row(table, 0), identity);
  EXPECT_EQ(row(table, count - 1), std::vector<int64_t>(identity.rbegin(), identity.rend()));
  for (int64_t r = 1; r < count; ++r) EXPECT_LT(row(table, r - 1), row(table, r)) << "row " << r;
}

INSTANTIATE_TEST_SUITE_P(Sizes, PermutationTableTest, ::testing::Values(0, 1, 2, 3, 4, 6));

TEST(PitTest, TieGoesToEarliestPairing) {
  // (0,2,1) and (1,0,2) both sum to 3; (0,2,1) comes first.
  at::Tensor mat = at::zeros({1, 3, 3});
  for (auto [i, j] : std::vector<std::pair<int, int>>{{0, 0}, {1, 2}, {2, 1}, {0, 1}, {1, 0}, {2, 2}}) {
    mat.index_put_({0, i, j}, 1.0);
  }
  const auto result = speech::metrics::pit(mat);
  EXPECT_EQ(row(result.batch_indices, 0), (std::vector<int64_t>{0, 2, 1}));
  EXPECT_FLOAT_EQ(result.min_loss.item<float>(), -1.0f);
}

TEST(PitTest, Float64MatrixStaysFloat64) {
  const at::Tensor mat = at::randn({2, 3, 3}, at::kDouble);
  const auto result = speech::metrics::pit(mat);
  EXPECT_EQ(result.min_loss.scalar_type(), at::kDouble);
}

struct PairwiseCheckCase {
  std::vector<int64_t> est, ori;
  bool check_shapes;
  enum { kNone, kValue, kAssertion } expected;
};

class PairwiseChecksTest : public ::testing::TestWithParam<PairwiseCheckCase> {};

TEST_P(PairwiseChecksTest, RaisesTheRightKind) {
  const auto& c = GetParam();
  const auto call = [&] { speech::metrics::pairwise_sisdr(at::randn(c.est), at::randn(c.ori), 1e-8, c.check_shapes); };
  switch (c.expected) {
    case PairwiseCheckCase::kNone: EXPECT_NO_THROW(call()); break;
    case PairwiseCheckCase::kValue: EXPECT_THROW(call(), speech::common::ValueError); break;
    case PairwiseCheckCase::kAssertion: EXPECT_THROW(call(), speech::common::AssertionError); break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PairwiseChecksTest,
    ::testing::Values(PairwiseCheckCase{{2, 3, 8}, {2, 3, 8}, true, PairwiseCheckCase::kNone},
                      PairwiseCheckCase{{2, 3, 8}, {2, 1, 8}, true, PairwiseCheckCase::kAssertion},
                      PairwiseCheckCase{{2, 3, 8}, {2, 1, 8}, false, PairwiseCheckCase::kNone},
                      PairwiseCheckCase{{2, 4, 4}, {2, 4, 4}, true, PairwiseCheckCase::kAssertion},
                      PairwiseCheckCase{{2, 4, 4}, {2, 4, 4}, false, PairwiseCheckCase::kNone},
                      PairwiseCheckCase{{2, 8}, {2, 3, 8}, false, PairwiseCheckCase::kValue},
                      PairwiseCheckCase{{2, 3, 8}, {1, 2, 3, 8}, true, PairwiseCheckCase::kValue}));

}  // namespace
