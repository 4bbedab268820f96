#pragma once
// What the signal functions need from interpreter objects: whether an
// argument is a plain NumPy array whose samples C++ may read in place, new
// float32 arrays, and the interpreter's arithmetic on scalars.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "common/sample_view.h"
#include "pyutil/numpy_view.h"

namespace speech::signal_arrays {

namespace py = pybind11;

// Only an ndarray itself, not a subclass such as a masked array, whose
// samples do not mean what the buffer holds.
inline bool is_plain_ndarray(const py::handle& obj) {
  static const py::handle ndarray_type = py::object(py::module_::import("numpy").attr("ndarray")).release();
  return Py_TYPE(obj.ptr()) == reinterpret_cast<PyTypeObject*>(ndarray_type.ptr());
}

// A plain ndarray of native T samples, C-contiguous and aligned, of any shape.
template <typename T>
bool holds_samples(const py::handle& obj) {
  return is_plain_ndarray(obj) && pyutil::holds_aligned_samples<T>(py::reinterpret_borrow<py::array>(obj));
}

// Every sample of an array that holds_samples<T> accepted, read in place.
template <typename T>
common::SampleView<const T> in_place_samples(const py::handle& obj) {
  const auto arr = py::reinterpret_borrow<py::array>(obj);
  return {static_cast<const T*>(arr.data()), static_cast<int64_t>(arr.size())};
}

// A new float32 (or T) array of `shape`, like NumPy's result of the same
// element-wise expression.
template <typename T>
py::array_t<T> new_array_like(const py::handle& obj) {
  const auto arr = py::reinterpret_borrow<py::array>(obj);
  return py::array_t<T>(std::vector<py::ssize_t>(arr.shape(), arr.shape() + arr.ndim()));
}

inline py::array_t<float> empty_float32() { return py::array_t<float>(0); }

// `x.size == 0` as the interpreter evaluates it (an object without `size`
// raises its AttributeError).
inline bool size_is_zero(const py::handle& x) { return py::getattr(x, "size").equal(py::int_(0)); }

// A plain float or int scalar, which NumPy treats as a weakly typed operand.
inline bool is_plain_number(const py::handle& obj) {
  return PyFloat_Check(obj.ptr()) || (PyLong_Check(obj.ptr()) && !PyBool_Check(obj.ptr()));
}

// NumPy keeps a float32 array's type for a plain float factor unless the
// value is too large for float32.
inline bool fits_float32(double factor) { return !std::isfinite(factor) || std::fabs(factor) <= FLT_MAX; }

inline py::object power(const py::object& base, const py::object& exponent) {
  PyObject* result = PyNumber_Power(base.ptr(), exponent.ptr(), Py_None);
  if (result == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(result);
}

inline bool less_than(const py::object& a, const py::object& b) {
  const int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_LT);
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

}  // namespace speech::signal_arrays
