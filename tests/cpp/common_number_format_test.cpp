#include "common/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace speech::common {
namespace {

struct FixedCase {
  double value;
  int decimals;
  const char* expected;
};

TEST(NumberFormat, FixedMatchesInterpreterFormatting) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const FixedCase cases[] = {
      {0.123456, 3, "0.123"}, {-0.0004, 3, "-0.000"}, {2.5, 0, "2"},
      {1e20, 1, "100000000000000000000.0"}, {nan, 3, "nan"}, {-nan, 3, "nan"},
      {inf, 1, "inf"}, {-inf, 1, "-inf"}, {-12.25, 1, "-12.2"},
  };
  for (const auto& c : cases) EXPECT_EQ(format_fixed(c.value, c.decimals), c.expected) << c.value;
}

TEST(NumberFormat, ExponentAndRepr) {
  EXPECT_EQ(format_exp(0.000123, 6), "1.230000e-04");
  EXPECT_EQ(format_exp(0.0, 6), "0.000000e+00");
  const struct {
    double value;
    const char* expected;
  } cases[] = {{0.5, "0.5"}, {0.1, "0.1"}, {1.0, "1.0"}, {-10.0, "-10.0"}, {1e16, "1e+16"},
               {1.5e-5, "1.5e-05"}, {0.0001, "0.0001"}, {123456789.125, "123456789.125"},
               {0.30000000000000004, "0.30000000000000004"}, {-0.0, "-0.0"}};
  for (const auto& c : cases) EXPECT_EQ(format_repr(c.value), c.expected) << c.value;
}

}  // namespace
}  // namespace speech::common
