#pragma once
// Small pieces of the interpreter's own semantics that the pipeline's C++
// code needs: tuple unpacking, true division and an exception's text.
#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

namespace speech {

// `first, second = value`, failing with the interpreter's own errors.
inline std::pair<pybind11::object, pybind11::object> unpack_pair(const pybind11::handle& value) {
  pybind11::object iterator = pybind11::reinterpret_steal<pybind11::object>(PyObject_GetIter(value.ptr()));
  if (!iterator) {
    PyErr_Clear();
    const std::string type = pybind11::str(pybind11::type::handle_of(value).attr("__name__")).cast<std::string>();
    PyErr_SetString(PyExc_TypeError, ("cannot unpack non-iterable " + type + " object").c_str());
    throw pybind11::error_already_set();
  }
  std::vector<pybind11::object> items;
  while (items.size() < 3) {
    PyObject* next = PyIter_Next(iterator.ptr());
    if (!next) break;
    items.push_back(pybind11::reinterpret_steal<pybind11::object>(next));
  }
  if (PyErr_Occurred()) throw pybind11::error_already_set();
  if (items.size() > 2) {
    PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
    throw pybind11::error_already_set();
  }
  if (items.size() < 2) {
    const std::string text = "not enough values to unpack (expected 2, got " + std::to_string(items.size()) + ")";
    PyErr_SetString(PyExc_ValueError, text.c_str());
    throw pybind11::error_already_set();
  }
  return {items[0], items[1]};
}

// a / b as the interpreter divides, as a double.
inline double true_divide(const pybind11::handle& a, const pybind11::handle& b) {
  const pybind11::object quotient = pybind11::reinterpret_steal<pybind11::object>(PyNumber_TrueDivide(a.ptr(), b.ptr()));
  if (!quotient) throw pybind11::error_already_set();
  return quotient.cast<double>();
}

}  // namespace speech
