// parse_args: the pipeline's options built with the interpreter's argparse,
// so usage errors, help, prefixes and value conversion behave as every such
// tool's do.
#include <pybind11/pybind11.h>

#include "bindings/leadvoice/option_check_edge.h"
#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/registration.h"
#include "triage/options.h"

namespace py = pybind11;

namespace speech {
namespace {

void add_option(py::object& parser, const TriageOption& option) {
  const py::object builtins = py::module_::import("builtins");
  py::dict settings;
  switch (option.type) {
    case TriageValue::kText:
      settings["type"] = builtins.attr("str");
      if (!option.required) settings["default"] = option.text_default;
      break;
    case TriageValue::kReal:
      settings["type"] = builtins.attr("float");
      settings["default"] = option.real_default;
      break;
    case TriageValue::kInteger:
      settings["type"] = builtins.attr("int");
      settings["default"] = option.integer_default;
      break;
  }
  if (option.required) settings["required"] = true;
  if (!option.help.empty()) settings["help"] = option.help;
  parser.attr("add_argument")(option.flag, **settings);
}

std::vector<NumericFlag> numeric_flags() {
  std::vector<NumericFlag> flags;
  for (const TriageOption& option : triage_options()) {
    if (option.type != TriageValue::kText) flags.push_back({option.flag, option.type == TriageValue::kInteger});
  }
  return flags;
}

py::object parse_args() {
  py::object parser = triage_attr("argparse").attr("ArgumentParser")(py::arg("description") = kTriageDescription);
  for (const TriageOption& option : triage_options()) add_option(parser, option);
  const py::object args = parser.attr("parse_args")();
  refuse_unworkable_numbers(parser, args, numeric_flags());
  return args;
}

}  // namespace

void define_parse_args(py::module_& m) { m.def("parse_args", &parse_args); }

}  // namespace speech
