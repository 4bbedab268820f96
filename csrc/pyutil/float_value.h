#pragma once
// A number as the interpreter's float() gives it: ints, floats, NumPy
// scalars and anything with __float__. Anything else raises what float()
// would, as the interpreter's own exception.
#include <pybind11/pybind11.h>

namespace speech::pyutil {

inline double float_value(const pybind11::handle& value) {
  const double result = PyFloat_AsDouble(value.ptr());
  if (result == -1.0 && PyErr_Occurred()) throw pybind11::error_already_set();
  return result;
}

}  // namespace speech::pyutil
