#pragma once
// NumPy arrays as the core's sample views (common/sample_view.h): a 1-D
// array is read in place, through its own buffer and stride, wherever its
// layout can be said in whole samples; only float32 and float64 are taken.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <variant>

#include "common/errors.h"
#include "common/sample_view.h"

namespace speech::pyutil {

enum class FloatKind { kFloat32, kFloat64 };

// Checks that `obj` is a NumPy ndarray of one dimension and a float dtype.
inline FloatKind float_kind_of(const pybind11::array& arr, const std::string& what) {
  if (arr.ndim() != 1) {
    throw common::ValueError(what + " must be a 1-D array, got " + std::to_string(arr.ndim()) + " dimensions");
  }
  const auto dtype = arr.dtype();
  if (dtype.is(pybind11::dtype::of<float>())) return FloatKind::kFloat32;
  if (dtype.is(pybind11::dtype::of<double>())) return FloatKind::kFloat64;
  throw common::TypeError(what + " must be float32 or float64, got " + pybind11::str(static_cast<const pybind11::handle&>(dtype)).cast<std::string>());
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

// The samples of a 1-D (or 0-d: one sample) array of native T, kept alive as
// long as this object lives. An array whose samples are not aligned, or lie
// a distance apart that is no whole number of samples (a field of a
// structured array), is read from an aligned copy made here instead, so every
// view the core gets is one of whole, aligned samples.
template <typename T>
class ArraySamples {
 public:
  explicit ArraySamples(const pybind11::array& arr) : held_(arr) {
    const int64_t size = arr.ndim() == 0 ? 1 : static_cast<int64_t>(arr.shape(0));
    const int64_t stride_bytes = arr.ndim() == 0 ? static_cast<int64_t>(sizeof(T)) : arr.strides(0);
    const char* first = static_cast<const char*>(arr.data());
    const bool whole = stride_bytes % static_cast<int64_t>(sizeof(T)) == 0 &&
                       reinterpret_cast<std::uintptr_t>(first) % alignof(T) == 0;
    if (whole) {
      view_ = common::SampleView<const T>(reinterpret_cast<const T*>(first), size, stride_bytes / static_cast<int64_t>(sizeof(T)));
      return;
    }
    pybind11::array_t<T> copy(static_cast<pybind11::ssize_t>(size));
    T* out = copy.mutable_data();
    for (int64_t i = 0; i < size; ++i) std::memcpy(out + i, first + i * stride_bytes, sizeof(T));
    held_ = copy;
    view_ = common::SampleView<const T>(out, size);
  }

  common::SampleView<const T> view() const { return view_; }

 private:
  pybind11::array held_;
  common::SampleView<const T> view_;
};

// The samples of a 1-D float32 or float64 array, whichever it holds
// (float_kind_of's checks and errors).
using FloatSamples = std::variant<ArraySamples<float>, ArraySamples<double>>;

inline FloatSamples float_samples_of(const pybind11::array& arr, const std::string& what) {
  if (float_kind_of(arr, what) == FloatKind::kFloat32) return ArraySamples<float>(arr);
  return ArraySamples<double>(arr);
}

}  // namespace speech::pyutil
