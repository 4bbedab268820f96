#pragma once
// The program a usage line names. For a package run as the main module
// (python3 -m leadvoice) argparse of this interpreter takes the last part of
// sys.argv[0], the package's "__main__.py", a name the user never typed; the
// run is named as it was started instead.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "common/os_path.h"

namespace speech::pyutil {

// "<interpreter> -m <package>" while `package` (or its __main__) is the
// process's main module; none otherwise, which leaves argparse's own choice.
inline std::optional<std::string> main_module_program(const std::string& package) {
  namespace py = pybind11;
  const py::object sys = py::module_::import("sys");
  const py::object main = sys.attr("modules").attr("get")("__main__");
  const py::object found_as = py::getattr(main, "__spec__", py::none());
  if (found_as.is_none()) return std::nullopt;
  const std::string name = py::str(found_as.attr("name"));
  if (name != package && name != package + ".__main__") return std::nullopt;
  const py::object executable = sys.attr("executable");
  std::string interpreter;
  if (!executable.is_none()) interpreter = std::string(common::path_basename(py::str(executable).cast<std::string>()));
  return (interpreter.empty() ? std::string("python") : interpreter) + " -m " + package;
}

}  // namespace speech::pyutil
