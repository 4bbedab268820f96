#pragma once
// Both drivers' command lines refuse numeric values that no run can work
// with as argparse's own usage error: usage and message on standard error,
// exit status 2, before anything else happens.
#include <pybind11/pybind11.h>

#include <climits>
#include <string>
#include <vector>

#include "driver/option_checks.h"

namespace speech {

struct NumericFlag {
  std::string flag;  // "--hop_duration"
  bool integer = false;
};

inline long clamped_long(const pybind11::handle& value) {
  int overflow = 0;
  const long number = PyLong_AsLongAndOverflow(value.ptr(), &overflow);
  if (number == -1 && PyErr_Occurred()) throw pybind11::error_already_set();
  if (overflow != 0) return overflow > 0 ? LONG_MAX : LONG_MIN;
  return number;
}

inline void refuse_unworkable_numbers(const pybind11::object& parser, const pybind11::object& args,
                                      const std::vector<NumericFlag>& flags) {
  std::vector<NumericOption> values;
  for (const NumericFlag& flag : flags) {
    const pybind11::object value = args.attr(flag.flag.substr(2).c_str());
    NumericOption option{flag.flag, flag.integer};
    option.text = pybind11::str(value).cast<std::string>();
    if (flag.integer) {
      option.integer_value = clamped_long(value);
    } else {
      option.real = pybind11::float_(value).cast<double>();
    }
    values.push_back(std::move(option));
  }
  const std::string problem = numeric_option_problem(values);
  if (!problem.empty()) parser.attr("error")(problem);
}

}  // namespace speech
