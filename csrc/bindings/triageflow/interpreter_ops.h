#pragma once
// Small pieces of the interpreter's own semantics that the pipeline's C++
// code needs: tuple unpacking, true division and an exception's text.
#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

#include "pyutil/unpack_pair.h"

namespace speech {

// a / b as the interpreter divides, as a double.
inline double true_divide(const pybind11::handle& a, const pybind11::handle& b) {
  const pybind11::object quotient = pybind11::reinterpret_steal<pybind11::object>(PyNumber_TrueDivide(a.ptr(), b.ptr()));
  if (!quotient) throw pybind11::error_already_set();
  return quotient.cast<double>();
}

}  // namespace speech
