#pragma once
// Numeric options that no run can work with: a window or hop that is not a
// positive length (a zero hop never advances, a negative one counts windows
// backwards) or that holds less than one sample at the model rate, a
// duration whose sample count does not fit the 64-bit counts the core
// works in, a hop longer than its window (silent gaps between windows), no
// speaker per window, a count beyond the 64-bit integers the core takes, or a
// threshold that no comparison can meet. The
// drivers refuse them at start, before any file or model is touched.
#include <cstdint>
#include <string>
#include <vector>

namespace speech::driver {

struct NumericOption {
  std::string flag;  // "--hop_duration"
  bool integer = false;
  double real = 0.0;          // the value of a real option
  int64_t integer_value = 0;  // the value of an integer option, clamped to 64 bits
  std::string text;           // the value as the interpreter writes it, for the message
  bool integer_fits = true;   // false where integer_value is a clamped bound, not the value
};

// The first problem among `options` (taken in the order given, then the hop
// against the window), worded for argparse's usage error and naming the
// option; empty when every value can work.
std::string numeric_option_problem(const std::vector<NumericOption>& options);

}  // namespace speech::driver
