// _fft_convolve and the body of _fft_convolve_truncate: NumPy arrays in, new
// float32 arrays out, the transforms run by the convolution core on tensors
// that view the callers' buffers without copying or changing them.
#include <torch/extension.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bindings/utility/blendkit/signal_arrays.h"
#include "bindings/utility/blendkit/signal_calls.h"
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

at::Tensor tensor_view(const py::array& arr) {
  const at::ScalarType type = arr.dtype().is(py::dtype::of<float>()) ? at::kFloat : at::kDouble;
  std::vector<int64_t> sizes(arr.shape(), arr.shape() + arr.ndim());
  // Only read: the core never writes to its inputs.
  return torch::from_blob(const_cast<void*>(arr.data()), sizes, at::TensorOptions().dtype(type));
}

py::object convolution_prefix(const py::object& signal, const py::object& ir, bool full) {
  const py::array sig = real_samples(signal);
  const py::array kernel = real_samples(ir);
  const at::Tensor sig_t = tensor_view(sig);
  const at::Tensor ir_t = tensor_view(kernel);
  const int64_t keep = full ? sig_t.numel() + ir_t.numel() - 1 : sig_t.numel();
  py::array_t<float> out(static_cast<py::ssize_t>(keep));
  at::Tensor out_t = torch::from_blob(out.mutable_data(), {keep}, at::TensorOptions().dtype(at::kFloat));
  {
    py::gil_scoped_release unlocked;
    mixsim::convolve_into(sig_t, ir_t, out_t);
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
