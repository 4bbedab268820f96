#pragma once
// A core option table as a parser of the interpreter's argparse, so usage
// errors, help, prefixes and value conversion behave as every such tool's
// do. Each option is added with exactly the settings its table row names,
// in the order nargs, type or action, default, required, help.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "common/command_line_options.h"
#include "pyutil/program_name.h"

namespace speech::pyutil {

inline pybind11::object option_default(const common::CommandLineOption& option) {
  namespace py = pybind11;
  switch (option.default_kind) {
    case common::DefaultKind::kText:
      return py::str(option.text_default);
    case common::DefaultKind::kReal:
      return py::float_(option.real_default);
    case common::DefaultKind::kInteger:
      return py::int_(option.integer_default);
    case common::DefaultKind::kFalse:
      return py::bool_(false);
    case common::DefaultKind::kTexts: {
      py::list values;
      for (const std::string& value : option.texts_default) values.append(py::str(value));
      return values;
    }
    case common::DefaultKind::kAbsent:
    case common::DefaultKind::kNone:
      break;
  }
  return py::none();
}

inline void add_option(pybind11::object& parser, const common::CommandLineOption& option) {
  namespace py = pybind11;
  const py::object builtins = py::module_::import("builtins");
  py::dict settings;
  if (option.nargs == common::kAnyCount) settings["nargs"] = "*";
  if (option.nargs > 0) settings["nargs"] = option.nargs;
  switch (option.type) {
    case common::OptionType::kText:
      settings["type"] = builtins.attr("str");
      break;
    case common::OptionType::kReal:
      settings["type"] = builtins.attr("float");
      break;
    case common::OptionType::kInteger:
      settings["type"] = builtins.attr("int");
      break;
    case common::OptionType::kFlag:
      settings["action"] = "store_true";
      break;
    case common::OptionType::kUntyped:
      break;
  }
  if (option.default_kind != common::DefaultKind::kAbsent) settings["default"] = option_default(option);
  if (option.required) settings["required"] = true;
  if (!option.help.empty()) settings["help"] = option.help;
  parser.attr("add_argument")(option.flag, **settings);
}

// A new parser of `argparse` (the module the caller's package holds) with
// every option of the table, for the program of `package`.
inline pybind11::object build_parser(const pybind11::object& argparse, const common::CommandLine& command_line,
                                     const std::string& package) {
  namespace py = pybind11;
  py::dict settings;
  if (const std::optional<std::string> prog = main_module_program(package)) settings["prog"] = *prog;
  settings["description"] = command_line.description;
  py::object parser = argparse.attr("ArgumentParser")(**settings);
  for (const common::CommandLineOption& option : command_line.options) add_option(parser, option);
  return parser;
}

}  // namespace speech::pyutil
