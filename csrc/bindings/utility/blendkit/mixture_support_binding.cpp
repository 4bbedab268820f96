// Lookups and array helpers shared by the dataset's binding files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>

#include "bindings/utility/blendkit/mixture_parts.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

// getattr(obj, "ndim", 0).
int64_t ndim_of(const py::handle& obj) { return py::cast<int64_t>(py::getattr(obj, "ndim", py::int_(0))); }

// The slice start:stop (None for an open end).
py::object slice_of(const py::object& start, const py::object& stop) {
  PyObject* slice = PySlice_New(start.ptr(), stop.ptr(), nullptr);
  if (slice == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(slice);
}

}  // namespace

FloatArray float32_view(const py::handle& obj) {
  FloatArray arr = FloatArray::ensure(obj);
  if (!arr) throw py::error_already_set();
  if (arr.ndim() != 1) return arr.attr("reshape")(-1).cast<FloatArray>();
  return arr;
}

FloatArray float_zeros(int64_t n) {
  FloatArray out(static_cast<py::ssize_t>(n));
  std::fill(out.mutable_data(), out.mutable_data() + n, 0.0f);
  return out;
}

int64_t size_of(const py::handle& obj) { return py::cast<int64_t>(obj.attr("size")); }

py::list new_list(const py::handle& items) {
  PyObject* list = PySequence_List(items.ptr());
  if (list == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::list>(list);
}

bool truthy(const py::handle& obj) {
  const int result = PyObject_IsTrue(obj.ptr());
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

py::object first_channel(const py::object& data) {
  if (ndim_of(data) != 2) return data;
  return data[py::make_tuple(slice_of(py::none(), py::none()), 0)];
}

py::object float32_asarray(const py::handle& x) {
  const py::object np = blendkit_attr("np");
  return np.attr("asarray")(x, py::arg("dtype") = np.attr("float32"));
}

py::object contiguous_float32(const py::handle& x) {
  return blendkit_attr("np").attr("ascontiguousarray")(float32_asarray(x));
}

}  // namespace speech::mixture
