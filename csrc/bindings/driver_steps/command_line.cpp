#include "bindings/driver_steps/command_line.h"

#include <climits>
#include <string>
#include <vector>

#include "driver/option_checks.h"
#include "pyutil/argparse_options.h"
#include "pyutil/float_value.h"
#include "pyutil/package_namespace.h"

namespace py = pybind11;

namespace speech {
namespace {

// A value beyond long (argparse's int has no bound) is as far out of range
// as the bound itself.
long clamped_long(const py::handle& value) {
  int overflow = 0;
  const long number = PyLong_AsLongAndOverflow(value.ptr(), &overflow);
  if (number == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow != 0) return overflow > 0 ? LONG_MAX : LONG_MIN;
  return number;
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
      number.integer_value = clamped_long(value);
    } else {
      number.real = pyutil::float_value(value);
    }
    values.push_back(std::move(number));
  }
  return values;
}

}  // namespace

py::object parse_driver_command_line(const char* package, const common::CommandLine& command_line) {
  const py::object parser = pyutil::build_parser(pyutil::package_attr(package, "argparse"), command_line);
  const py::object args = parser.attr("parse_args")();
  const std::string problem = driver::numeric_option_problem(numeric_values(args, command_line));
  if (!problem.empty()) parser.attr("error")(problem);
  return args;
}

}  // namespace speech
