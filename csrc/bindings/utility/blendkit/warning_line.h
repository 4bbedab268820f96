#pragma once
// The training side's warning lines: "[Warning] " and a fixed phrase, the
// file's path, ": " and the error's text, printed with the interpreter's
// print. The line is joined as interpreter text: a path that is not valid
// UTF-8 carries surrogate escapes, which only the interpreter's print knows
// how to write.
#include <pybind11/pybind11.h>

#include <string>

#include "pyutil/py_print.h"

namespace speech {

inline void print_warning(const std::string& phrase, const pybind11::handle& subject,
                          const pybind11::handle& error_text) {
  namespace py = pybind11;
  const py::object line = py::str("[Warning] " + phrase) + py::str(subject) + py::str(": ") + py::str(error_text);
  py::module_::import("builtins").attr("print")(line);
}

inline void print_warning(const std::string& phrase, const pybind11::handle& subject,
                          const pybind11::error_already_set& e) {
  print_warning(phrase, subject, e.value());
}

// An error text from C++ carries a path's undecodable bytes as they are.
inline void print_warning(const std::string& phrase, const pybind11::handle& subject, const std::string& error_text) {
  print_warning(phrase, subject, pyutil::utf8_text(error_text));
}

}  // namespace speech
