// parse_args: the driver's options built with the interpreter's argparse, so
// usage errors, help and value conversion behave as every such tool's do.
#include <pybind11/pybind11.h>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "bindings/leadvoice/option_check_edge.h"
#include "driver/command_line.h"

namespace py = pybind11;

namespace speech {
namespace {

py::object default_of(const OptionSpec& option) {
  switch (option.default_kind) {
    case DefaultKind::kUnset:
      return py::none();
    case DefaultKind::kText:
      return py::str(option.text_default);
    case DefaultKind::kReal:
      return py::float_(option.real_default);
    case DefaultKind::kInteger:
      return py::int_(option.integer_default);
    case DefaultKind::kFalse:
      return py::bool_(false);
  }
  return py::none();
}

void add_option(py::object& parser, const OptionSpec& option) {
  const py::object builtins = py::module_::import("builtins");
  py::dict settings;
  switch (option.kind) {
    case OptionKind::kText:
      settings["type"] = builtins.attr("str");
      break;
    case OptionKind::kReal:
      settings["type"] = builtins.attr("float");
      break;
    case OptionKind::kInteger:
      settings["type"] = builtins.attr("int");
      break;
    case OptionKind::kFlag:
      settings["action"] = "store_true";
      break;
    case OptionKind::kUntyped:
      break;
  }
  settings["default"] = default_of(option);
  if (!option.help.empty()) settings["help"] = option.help;
  parser.attr("add_argument")(option.flag, **settings);
}

std::vector<NumericFlag> numeric_flags() {
  std::vector<NumericFlag> flags;
  for (const OptionSpec& option : driver_options()) {
    if (option.kind == OptionKind::kReal || option.kind == OptionKind::kInteger) {
      flags.push_back({option.flag, option.kind == OptionKind::kInteger});
    }
  }
  return flags;
}

py::object parse_args() {
  py::object parser = leadvoice_attr("argparse").attr("ArgumentParser")(py::arg("description") = kParserDescription);
  for (const OptionSpec& option : driver_options()) add_option(parser, option);
  const py::object args = parser.attr("parse_args")();
  refuse_unworkable_numbers(parser, args, numeric_flags());
  return args;
}

}  // namespace

void define_command_line(py::module_& m) { m.def("parse_args", &parse_args); }

}  // namespace speech
