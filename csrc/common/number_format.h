#pragma once
// Number rendering that matches the interpreter's format specs, so C++ code
// prints exactly what f"{x:.3f}" or f"{x:.6e}" would.
#include <string>

namespace speech::common {

// Fixed point with `decimals` digits: "nan", "inf", "-inf" as the interpreter
// spells them (printf would give "-nan").
std::string format_fixed(double value, int decimals);

// Exponent form with `decimals` digits, as f"{x:.6e}".
std::string format_exp(double value, int decimals);

// Shortest text that reads back as the same double, as repr(float).
std::string format_repr(double value);

}  // namespace speech::common
