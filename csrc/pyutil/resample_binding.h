#pragma once
// The resampling entry point shared by the extension modules:
// _resample(y, orig_sr, target_sr, res_type="kaiser_best"), called the way
// librosa.resample is called, and failing the way it fails (a ValueError with
// the reason) for inputs it refuses.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "common/errors.h"
#include "resample/resampler.h"

namespace speech {

namespace resample_edge {

inline std::string type_name(const pybind11::handle& obj) {
  return pybind11::str(pybind11::type::handle_of(obj).attr("__name__")).cast<std::string>();
}

// A rate is any real number the interpreter can turn into a float (int,
// float, NumPy scalars); text and None are refused.
inline double rate_value(const pybind11::handle& rate, const char* name) {
  const bool is_text = pybind11::isinstance<pybind11::str>(rate) || pybind11::isinstance<pybind11::bytes>(rate);
  if (rate.is_none() || is_text) {
    throw ValueError(std::string(name) + " must be a number, got " + type_name(rate));
  }
  const double value = PyFloat_AsDouble(rate.ptr());
  if (value == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    throw ValueError(std::string(name) + " must be a number, got " + type_name(rate));
  }
  return value;
}

inline ResampleFilter filter_value(const pybind11::handle& res_type) {
  if (!pybind11::isinstance<pybind11::str>(res_type)) {
    throw ValueError("res_type must be a string, got " + type_name(res_type));
  }
  return resample_filter_from_name(res_type.cast<std::string>());
}

enum class Precision { kFloat32, kFloat64 };

// y must be a 1-D float32 or float64 ndarray.
inline Precision audio_precision(const pybind11::handle& y) {
  if (!pybind11::isinstance<pybind11::array>(y)) {
    throw ValueError("Audio data must be of type numpy.ndarray, got " + type_name(y));
  }
  const auto arr = pybind11::reinterpret_borrow<pybind11::array>(y);
  const std::string dtype = pybind11::str(arr.dtype()).cast<std::string>();
  const char kind = arr.dtype().kind();
  if (kind != 'f') throw ValueError("Audio data must be floating-point, got dtype " + dtype);
  if (arr.ndim() != 1) {
    throw ValueError("Audio data must be a 1-D array, got " + std::to_string(arr.ndim()) + " dimensions");
  }
  if (arr.dtype().is(pybind11::dtype::of<float>())) return Precision::kFloat32;
  if (arr.dtype().is(pybind11::dtype::of<double>())) return Precision::kFloat64;
  throw ValueError("Audio data must be float32 or float64, got dtype " + dtype);
}

template <typename T>
SampleRun<T> sample_run(const pybind11::array& arr) {
  return {static_cast<const char*>(arr.data()), static_cast<int64_t>(arr.shape(0)),
          static_cast<int64_t>(arr.strides(0))};
}

template <typename T>
pybind11::object resample_array(const pybind11::array& y, double orig_sr, double target_sr, ResampleFilter filter) {
  const SampleRun<T> x = sample_run<T>(y);
  if (orig_sr == target_sr) {
    // Nothing to do: the input itself comes back, once it is known finite.
    {
      pybind11::gil_scoped_release release;
      check_finite(x);
    }
    return y;
  }
  const int64_t n_out = resampled_length(x.size, orig_sr, target_sr);
  pybind11::array_t<T> out(static_cast<pybind11::ssize_t>(n_out));
  T* out_data = out.mutable_data();
  {
    pybind11::gil_scoped_release release;
    resample_into(x, orig_sr, target_sr, filter, out_data, n_out);
  }
  return std::move(out);
}

}  // namespace resample_edge

// Defines `_resample` on module m: a 1-D float32 or float64 NumPy array at
// orig_sr resampled to target_sr with the named Kaiser filter; a new array of
// the input's dtype and length ceil(len(y) * target_sr / orig_sr). Equal rates
// give y itself.
inline void define_resample(pybind11::module_& m) {
  m.def(
      "_resample",
      [](const pybind11::object& y, const pybind11::object& orig_sr, const pybind11::object& target_sr,
         const pybind11::object& res_type) -> pybind11::object {
        using namespace resample_edge;
        const Precision precision = audio_precision(y);
        const double orig = rate_value(orig_sr, "orig_sr");
        const double target = rate_value(target_sr, "target_sr");
        check_sample_rates(orig, target);
        const ResampleFilter filter = filter_value(res_type);
        const auto arr = pybind11::reinterpret_borrow<pybind11::array>(y);
        if (precision == Precision::kFloat32) return resample_array<float>(arr, orig, target, filter);
        return resample_array<double>(arr, orig, target, filter);
      },
      pybind11::arg("y"), pybind11::arg("orig_sr"), pybind11::arg("target_sr"),
      pybind11::arg("res_type") = "kaiser_best",
      "_resample(y, orig_sr, target_sr, res_type=\"kaiser_best\")\n\n"
      "Resample the 1-D float32/float64 signal y from orig_sr to target_sr Hz with\n"
      "the \"kaiser_best\" or \"kaiser_fast\" filter. The result has y's dtype and\n"
      "ceil(len(y) * target_sr / orig_sr) samples; equal rates return y.");
}

}  // namespace speech
