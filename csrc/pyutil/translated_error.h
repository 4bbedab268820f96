#pragma once
// A C++ exception caught in the middle of our own code, turned into the
// interpreter's exception it becomes when it crosses the binding edge (the
// registered translators first, then pybind11's own), so it can be handled,
// printed and reported as any exception raised by interpreter code.
#include <pybind11/pybind11.h>

#include <exception>

namespace speech::pyutil {

inline pybind11::error_already_set translated_error(std::exception_ptr error) {
  // Raising it from inside a bound function is the one way to run exactly
  // the edge's own translation.
  const pybind11::cpp_function rethrow([error] { std::rethrow_exception(error); });
  try {
    rethrow();
  } catch (pybind11::error_already_set& translated) {
    return translated;
  }
  throw std::logic_error("a rethrown exception came back as no exception");
}

}  // namespace speech::pyutil
