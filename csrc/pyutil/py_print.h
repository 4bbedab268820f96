#pragma once
// Console output through the interpreter's print, so a replaced sys.stdout
// (the drivers' Logger) sees every line, looked up at the moment of printing.
#include <pybind11/pybind11.h>

#include <string>

namespace speech {

inline void py_print(const std::string& line) {
  pybind11::module_::import("builtins").attr("print")(pybind11::str(line));
}

// str(obj), as print would render it.
inline std::string py_str(const pybind11::handle& obj) { return pybind11::str(obj).cast<std::string>(); }

}  // namespace speech
