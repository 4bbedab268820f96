#include "bindings/driver_steps/command_line.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "driver/option_checks.h"
#include "pyutil/argparse_options.h"
#include "pyutil/float_value.h"
#include "pyutil/package_namespace.h"

namespace py = pybind11;

namespace speech {
namespace {

// argparse's int has no bound: a value beyond 64 bits comes as the bound it
// passes, marked as not fitting.
void set_integer(driver::NumericOption& number, const py::handle& value) {
  int overflow = 0;
  const long long parsed = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (parsed == -1 && PyErr_Occurred()) throw py::error_already_set();
  number.integer_fits = overflow == 0;
  if (overflow != 0) {
    number.integer_value = overflow > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  } else {
    number.integer_value = static_cast<int64_t>(parsed);
  }
}

std::vector<driver::NumericOption> numeric_values(const py::object& args, const common::CommandLine& command_line) {
  std::vector<driver::NumericOption> values;
  for (const common::CommandLineOption& option : command_line.options) {
    if (!option.is_numeric()) continue;
    const py::object value = args.attr(option.dest().c_str());
    driver::NumericOption number;
    number.flag = option.flag;
    number.integer = option.type == common::OptionType::kInteger;
    number.text = py::str(value).cast<std::string>();
    if (number.integer) {
      set_integer(number, value);
    } else {
      number.real = pyutil::float_value(value);
    }
    values.push_back(std::move(number));
  }
  return values;
}

}  // namespace

py::object parse_driver_command_line(const char* package, const common::CommandLine& command_line) {
  const py::object parser = pyutil::build_parser(pyutil::package_attr(package, "argparse"), command_line, package);
  const py::object args = parser.attr("parse_args")();
  const std::string problem = driver::numeric_option_problem(numeric_values(args, command_line));
  if (!problem.empty()) parser.attr("error")(problem);
  return args;
}

}  // namespace speech
