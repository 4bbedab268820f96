#pragma once
// Integer division as the interpreter defines it: the quotient rounds toward
// minus infinity and the remainder takes the divisor's sign, where C++
// truncates toward zero. Sizes defined with // and % of negative numbers
// (a signal shorter than one frame, say) need the interpreter's answer.
#include <cstdint>

namespace speech::common {

// a // b; b must not be 0.
inline int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// a % b, with the sign of b; b must not be 0.
inline int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

}  // namespace speech::common
