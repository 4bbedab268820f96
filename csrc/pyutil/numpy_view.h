#pragma once
// Borrowed views of 1-D NumPy arrays: the array's own buffer and stride, no
// copy. Only float32 and float64 are accepted.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "common/errors.h"

namespace speech {

template <typename T>
struct StridedView {
  const char* data = nullptr;
  int64_t size = 0;
  int64_t stride_bytes = 0;
  T operator[](int64_t i) const { return *reinterpret_cast<const T*>(data + i * stride_bytes); }
};

enum class FloatKind { kFloat32, kFloat64 };

// Checks that `obj` is a NumPy ndarray of one dimension and a float dtype.
inline FloatKind float_kind_of(const pybind11::array& arr, const std::string& what) {
  if (arr.ndim() != 1) {
    throw ValueError(what + " must be a 1-D array, got " + std::to_string(arr.ndim()) + " dimensions");
  }
  const auto dtype = arr.dtype();
  if (dtype.is(pybind11::dtype::of<float>())) return FloatKind::kFloat32;
  if (dtype.is(pybind11::dtype::of<double>())) return FloatKind::kFloat64;
  throw TypeError(what + " must be float32 or float64, got " + pybind11::str(static_cast<const pybind11::handle&>(dtype)).cast<std::string>());
}

// Whether C++ may read every sample of `arr` in place as T: native T
// samples, C-contiguous and aligned, of any shape. Aligned as NumPy's flag
// means it: an array with no samples always is; otherwise, C-contiguous
// samples of T are when the first one is.
template <typename T>
bool holds_aligned_samples(const pybind11::array& arr) {
  if (!arr.dtype().is(pybind11::dtype::of<T>()) || (arr.flags() & pybind11::array::c_style) == 0) return false;
  return arr.size() == 0 || reinterpret_cast<std::uintptr_t>(arr.data()) % alignof(T) == 0;
}

template <typename T>
StridedView<T> strided_view(const pybind11::array& arr) {
  StridedView<T> view;
  view.data = static_cast<const char*>(arr.data());
  view.size = arr.ndim() == 0 ? 1 : arr.shape(0);
  view.stride_bytes = arr.ndim() == 0 ? sizeof(T) : arr.strides(0);
  return view;
}

}  // namespace speech
