#pragma once
// An interpreter embedded in the test program, for the pieces of our code
// that carry the interpreter's own semantics. It is started once and ends
// with the program: NumPy cannot be initialised twice in one process.
#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include <string>

#include "pyutil/errors.h"

namespace speech {

inline PyConfig python_config() {
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  return config;
}

// The interpreter, configured as the python3 program configures itself (not
// isolated: its locale, so its file-system encoding is the one our extension
// modules meet), translating our errors as every extension module does.
struct EmbeddedInterpreter {
  EmbeddedInterpreter() { pyutil::register_error_translation(); }
  PyConfig config = python_config();
  pybind11::scoped_interpreter interpreter{&config};
};

class InterpreterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { static const EmbeddedInterpreter embedded; }

  // The value of a Python expression, with os, sys, io and numpy at hand.
  static pybind11::object eval(const std::string& expression) {
    namespace py = pybind11;
    py::dict scope;
    for (const char* name : {"os", "sys", "io", "pathlib"}) scope[name] = py::module_::import(name);
    scope["np"] = py::module_::import("numpy");
    return py::eval(expression, scope);
  }
};

// What an interpreter exception is, as a test compares it.
struct RaisedException {
  std::string type;  // its class's name
  std::string text;  // str(exception)
};

inline RaisedException raised(pybind11::error_already_set& e) {
  namespace py = pybind11;
  return {py::str(e.type().attr("__name__")).cast<std::string>(),
          py::str(e.value()).attr("encode")("utf-8", "surrogateescape").cast<std::string>()};
}

}  // namespace speech
