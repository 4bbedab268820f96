#pragma once
// Argument checks and dispatch of the resampling entry point: it is called
// the way librosa.resample is called and fails the way it fails (a ValueError
// with the reason) for inputs it refuses.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "common/errors.h"
#include "pyutil/numpy_view.h"
#include "pyutil/py_print.h"
#include "resample/resampler.h"

namespace speech {

namespace resample_edge {

// A rate is any real number the interpreter can turn into a float (int,
// float, NumPy scalars); text and None are refused.
inline double rate_value(const pybind11::handle& rate, const char* name) {
  const bool is_text = pybind11::isinstance<pybind11::str>(rate) || pybind11::isinstance<pybind11::bytes>(rate);
  if (rate.is_none() || is_text) {
    throw common::ValueError(std::string(name) + " must be a number, got " + pyutil::type_name(rate));
  }
  const double value = PyFloat_AsDouble(rate.ptr());
  if (value == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    throw common::ValueError(std::string(name) + " must be a number, got " + pyutil::type_name(rate));
  }
  return value;
}

inline resample::ResampleFilter filter_value(const pybind11::handle& res_type) {
  if (!pybind11::isinstance<pybind11::str>(res_type)) {
    throw common::ValueError("res_type must be a string, got " + pyutil::type_name(res_type));
  }
  return resample::resample_filter_from_name(res_type.cast<std::string>());
}

// y must be a 1-D float32 or float64 ndarray.
inline pyutil::FloatKind audio_precision(const pybind11::handle& y) {
  if (!pybind11::isinstance<pybind11::array>(y)) {
    throw common::ValueError("Audio data must be of type numpy.ndarray, got " + pyutil::type_name(y));
  }
  const auto arr = pybind11::reinterpret_borrow<pybind11::array>(y);
  const std::string dtype = pybind11::str(arr.dtype()).cast<std::string>();
  const char kind = arr.dtype().kind();
  if (kind != 'f') throw common::ValueError("Audio data must be floating-point, got dtype " + dtype);
  if (arr.ndim() != 1) {
    throw common::ValueError("Audio data must be a 1-D array, got " + std::to_string(arr.ndim()) + " dimensions");
  }
  if (arr.dtype().is(pybind11::dtype::of<float>())) return pyutil::FloatKind::kFloat32;
  if (arr.dtype().is(pybind11::dtype::of<double>())) return pyutil::FloatKind::kFloat64;
  throw common::ValueError("Audio data must be float32 or float64, got dtype " + dtype);
}

template <typename T>
pybind11::object resample_array(const pybind11::array& y, double orig_sr, double target_sr,
                                resample::ResampleFilter filter) {
  const pyutil::ArraySamples<T> samples(y);
  const common::SampleView<const T> x = samples.view();
  if (orig_sr == target_sr) {
    // Nothing to do: the input itself comes back, once it is known finite.
    {
      pybind11::gil_scoped_release release;
      resample::check_finite(x);
    }
    return y;
  }
  const int64_t n_out = resample::resampled_length(x.size(), orig_sr, target_sr);
  pybind11::array_t<T> out(static_cast<pybind11::ssize_t>(n_out));
  T* out_data = out.mutable_data();
  {
    pybind11::gil_scoped_release release;
    resample::resample_into(x, orig_sr, target_sr, filter, out_data, n_out);
  }
  return std::move(out);
}

}  // namespace resample_edge

}  // namespace speech
