#include "common/floor_div.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace speech::common {
namespace {

struct DivisionCase {
  int64_t a, b, quotient, remainder;
};

// Every sign combination, exact and inexact: the quotient rounds down, the
// remainder follows the divisor, and quotient * b + remainder gives a back.
TEST(FloorDiv, RoundsTowardMinusInfinity) {
  const std::vector<DivisionCase> cases = {
      {7, 2, 3, 1},      {-7, 2, -4, 1},       {7, -2, -4, -1},     {-7, -2, 3, -1},
      {-1, 160, -1, 159}, {-160, 160, -1, 0}, {-161, 160, -2, 159}, {0, 160, 0, 0},
      {6, 3, 2, 0},      {-6, 3, -2, 0},       {INT64_MAX, 1, INT64_MAX, 0},
  };
  for (const DivisionCase& c : cases) {
    EXPECT_EQ(floor_div(c.a, c.b), c.quotient) << c.a << " // " << c.b;
    EXPECT_EQ(floor_mod(c.a, c.b), c.remainder) << c.a << " % " << c.b;
    EXPECT_EQ(floor_div(c.a, c.b) * c.b + floor_mod(c.a, c.b), c.a);
  }
}

}  // namespace
}  // namespace speech::common
