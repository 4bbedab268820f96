#include "css/embedding_gate.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

namespace speech::css {
namespace {

TEST(CssEmbeddingGateTest, MissingAndNonFiniteEmbeddingsStayOut) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(judge_embedding(std::nullopt), EmbeddingVerdict::kMissing);
  EXPECT_EQ(judge_embedding(std::vector<double>{0.1, -0.2}), EmbeddingVerdict::kUsable);
  EXPECT_EQ(judge_embedding(std::vector<double>{}), EmbeddingVerdict::kUsable);
  for (const double bad : {std::numeric_limits<double>::quiet_NaN(), kInf, -kInf}) {
    EXPECT_EQ(judge_embedding(std::vector<double>{0.1, bad}), EmbeddingVerdict::kNotFinite) << bad;
  }
}

}  // namespace
}  // namespace speech::css
