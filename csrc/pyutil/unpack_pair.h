#pragma once
// `first, second = value` as the interpreter runs it: at most three items are
// taken from the iterator, and every other count, or a value that cannot be
// iterated, fails with the interpreter's own exception and text.
#include <pybind11/pybind11.h>

#include <string>
#include <utility>

#include "common/errors.h"
#include "pyutil/py_print.h"

namespace speech::pyutil {

inline std::pair<pybind11::object, pybind11::object> unpack_pair(const pybind11::handle& value) {
  namespace py = pybind11;
  PyObject* iterator = PyObject_GetIter(value.ptr());
  if (iterator == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
    PyErr_Clear();
    throw common::TypeError("cannot unpack non-iterable " + type_name(value) +
                    " object");
  }
  const py::object it = py::reinterpret_steal<py::object>(iterator);
  py::object items[2];
  for (int got = 0; got < 2; ++got) {
    PyObject* item = PyIter_Next(it.ptr());
    if (item == nullptr) {
      if (PyErr_Occurred()) throw py::error_already_set();
      throw common::ValueError("not enough values to unpack (expected 2, got " + std::to_string(got) + ")");
    }
    items[got] = py::reinterpret_steal<py::object>(item);
  }
  PyObject* extra = PyIter_Next(it.ptr());
  if (extra != nullptr) {
    Py_DECREF(extra);
    throw common::ValueError("too many values to unpack (expected 2)");
  }
  if (PyErr_Occurred()) throw py::error_already_set();
  return {items[0], items[1]};
}

}  // namespace speech::pyutil
