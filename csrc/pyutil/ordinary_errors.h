#pragma once
// "except Exception" in C++: the one test of which failures a caller may
// catch and carry on after (the interpreter's Exception family) and which go
// on whatever happens (KeyboardInterrupt, SystemExit, GeneratorExit). An
// error of our own C++ code counts as the exception it becomes at the binding
// edge, so a C++ ValueError and the interpreter's are handled alike. A
// narrower family ("except OSError") is kept the same way.
#include <pybind11/pybind11.h>

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "pyutil/py_print.h"
#include "pyutil/translated_error.h"

namespace speech::pyutil {

inline bool is_ordinary(const pybind11::error_already_set& e) { return e.matches(PyExc_Exception); }

// An exception of the Exception family, kept for its message and its
// traceback (None when no interpreter frame was passed, as for an error of
// our own C++ code).
struct OrdinaryError {
  std::string text;  // str(exception), its undecodable bytes as surrogate escapes
  pybind11::object type;
  pybind11::object value;
  pybind11::object trace;
};

namespace detail {

inline pybind11::object or_none(const pybind11::object& obj) { return obj ? obj : pybind11::none(); }

inline std::optional<OrdinaryError> kept_if(const pybind11::error_already_set& e, PyObject* family) {
  if (!e.matches(family)) return std::nullopt;
  return OrdinaryError{py_str(e.value()), or_none(e.type()), or_none(e.value()), or_none(e.trace())};
}

}  // namespace detail

// Runs `body`. An exception of `family` (an exception class of the Exception
// family, such as PyExc_OSError) comes back, kept; anything else leaves
// untouched (a C++ error as the interpreter's exception it stands for).
template <typename Body>
std::optional<OrdinaryError> run_guarded(PyObject* family, Body&& body) {
  try {
    body();
    return std::nullopt;
  } catch (pybind11::error_already_set& e) {
    if (auto kept = detail::kept_if(e, family)) return kept;
    throw;
  } catch (const std::exception&) {
    pybind11::error_already_set e = translated_error(std::current_exception());
    if (auto kept = detail::kept_if(e, family)) return kept;
    throw e;
  }
}

// Runs `body`; an ordinary exception comes back, kept.
template <typename Body>
std::optional<OrdinaryError> run_guarded(Body&& body) {
  return run_guarded(PyExc_Exception, std::forward<Body>(body));
}

}  // namespace speech::pyutil
