// _fft_convolve and the body of _fft_convolve_truncate: NumPy arrays in, new
// float32 arrays out, the transforms run by the convolution core on the
// callers' buffers, read in place and never changed.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bindings/utility/blendkit/signal_arrays.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "common/errors.h"
#include "mixsim/fft_convolution.h"

namespace py = pybind11;

namespace speech {
namespace {

using namespace signal_arrays;

// float32 and float64 arrays are read in place; any other real input (an
// integer array, a list) is taken as float64, as NumPy's FFT takes it.
py::array real_samples(const py::object& x) {
  if (holds_samples<float>(x) || holds_samples<double>(x)) return py::reinterpret_borrow<py::array>(x);
  const py::object np = blendkit_attr("np");
  const py::object arr = np.attr("asarray")(x);
  const py::dtype dtype = arr.attr("dtype");
  if (holds_samples<float>(arr) || holds_samples<double>(arr)) return arr;
  const bool single = dtype.is(py::dtype::of<float>());
  return np.attr("ascontiguousarray")(arr, py::arg("dtype") = single ? np.attr("float32") : np.attr("float64"));
}

// A pair that is not float32 on both sides is convolved in double.
py::array as_float64(const py::array& arr) {
  if (arr.dtype().is(py::dtype::of<double>())) return arr;
  return py::array_t<double, py::array::c_style | py::array::forcecast>(arr);
}

void check_one_dimension(const py::array& arr, const char* what) {
  if (arr.ndim() != 1) {
    throw common::ValueError(std::string(what) + " must be 1-D, got " + std::to_string(arr.ndim()) + " dimensions");
  }
}

template <typename T>
void convolve_arrays(const py::array& sig, const py::array& kernel, py::array_t<float>& out) {
  const common::SampleView<const T> x = in_place_samples<T>(sig);
  const common::SampleView<const T> h = in_place_samples<T>(kernel);
  float* y = out.mutable_data();
  const auto keep = static_cast<int64_t>(out.size());
  py::gil_scoped_release unlocked;
  mixsim::convolve_into(x, h, y, keep);
}

py::object convolution_prefix(const py::object& signal, const py::object& ir, bool full) {
  py::array sig = real_samples(signal);
  py::array kernel = real_samples(ir);
  check_one_dimension(sig, "signal");
  check_one_dimension(kernel, "ir");
  const auto n = static_cast<int64_t>(sig.size());
  const int64_t keep = full ? n + static_cast<int64_t>(kernel.size()) - 1 : n;
  py::array_t<float> out(static_cast<py::ssize_t>(keep));
  const bool single = sig.dtype().is(py::dtype::of<float>()) && kernel.dtype().is(py::dtype::of<float>());
  if (single) {
    convolve_arrays<float>(sig, kernel, out);
  } else {
    convolve_arrays<double>(as_float64(sig), as_float64(kernel), out);
  }
  return std::move(out);
}

// The signal is tested first; the size of ir is read only for a non-empty
// signal.
bool either_empty(const py::object& signal, const py::object& ir) {
  return size_is_zero(signal) || size_is_zero(ir);
}

}  // namespace

py::object fft_convolve(const py::object& signal, const py::object& ir) {
  if (either_empty(signal, ir)) return empty_float32();
  return convolution_prefix(signal, ir, true);
}

py::object fft_convolve_truncate_method(const py::object& signal, const py::object& ir) {
  if (either_empty(signal, ir)) return empty_float32();
  const py::object conv = blendkit_attr("_fft_convolve")(signal, ir);
  const py::object head = conv[py::slice(py::none(), py::getattr(signal, "size"), py::none())];
  const py::object np = blendkit_attr("np");
  return head.attr("astype")(np.attr("float32"));
}

}  // namespace speech
