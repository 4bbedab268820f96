// Impulse responses of the dataset: preparation with a per-instance cache,
// and the convolution cut back to the dry signal's length.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "bindings/utility/blendkit/mixture_sources.h"
#include "bindings/utility/blendkit/signal_arrays.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "mixsim/impulse_response_spectra.h"
#include "mixsim/signal_faults.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

py::object float32_asarray(const py::handle& x) {
  const py::object np = blendkit_attr("np");
  return np.attr("asarray")(x, py::arg("dtype") = np.attr("float32"));
}

// A non-finite or all-zero impulse response is cached as an empty one,
// which leaves its source dry; one warning line per file and process.
// Judged at the file's own rate, before resampling would refuse a
// non-finite one.
bool refuse_impulse_response(const py::object& rir_path, const py::object& rir) {
  if (size_of(rir) == 0) return false;
  const FloatArray samples = float32_view(rir);
  const std::optional<mixsim::ImpulseResponseFault> fault =
      mixsim::impulse_response_fault(samples.data(), samples.size());
  if (!fault) return false;
  print_warning(fault->non_finite ? "non-finite RIR " : "silent RIR ", rir_path, fault->reason);
  return true;
}

py::object load_and_resample_rir(py::object self, py::object rir_path) {
  const py::dict cache = self.attr("_rir_cache");
  if (cache.contains(rir_path)) return cache[rir_path];
  const auto [data, rir_sr] = unpack_pair(blendkit_attr("_safe_sf_read")(rir_path, py::arg("dtype") = "float32"));
  py::object rir = data;
  if (ndim_of(rir) == 2) rir = rir[py::make_tuple(slice_of(py::none(), py::none()), 0)];
  if (refuse_impulse_response(rir_path, rir)) {
    const py::object empty = float_zeros(0);
    cache[rir_path] = empty;
    return empty;
  }
  const py::object target_sr = self.attr("target_sr");
  if (rir_sr.not_equal(target_sr)) {
    try {
      rir = blendkit_attr("librosa").attr("resample")(float32_asarray(rir), py::arg("orig_sr") = rir_sr,
                                                       py::arg("target_sr") = target_sr,
                                                       py::arg("res_type") = "kaiser_fast");
    } catch (py::error_already_set& e) {
      if (!is_ordinary_exception(e)) throw;
      print_warning("failed resample RIR ", rir_path, e);
    }
  }
  rir = blendkit_attr("np").attr("ascontiguousarray")(float32_asarray(rir));
  cache[rir_path] = rir;
  return rir;
}

// The convolution functions the package was built with: while a dataset
// reaches these, a source is convolved through the spectrum kept with its
// impulse response, which gives the same samples.
struct OriginalConvolution {
  py::handle truncate_method;
  py::handle fft_convolve;
};

OriginalConvolution& original_convolution() {
  static OriginalConvolution functions;
  return functions;
}

bool convolution_is_original(const py::object& dataset) {
  const OriginalConvolution& original = original_convolution();
  const py::object method = dataset.attr("_fft_convolve_truncate");
  return PyMethod_Check(method.ptr()) && PyMethod_GET_FUNCTION(method.ptr()) == original.truncate_method.ptr() &&
         PyMethod_GET_SELF(method.ptr()) == dataset.ptr() &&
         blendkit_attr("_fft_convolve").ptr() == original.fft_convolve.ptr();
}

}  // namespace

FloatArray reverberated_source(const py::object& dataset, const FloatArray& segment, const py::object& rir,
                               int64_t L) {
  const bool kept_spectrum = signal_arrays::holds_samples<float>(rir) &&
                             py::reinterpret_borrow<py::array>(rir).ndim() == 1 && segment.size() > 0 &&
                             convolution_is_original(dataset);
  if (!kept_spectrum) {
    const py::object wet = dataset.attr("_fft_convolve_truncate")(segment, rir);
    return pad_or_crop(float32_view(wet), L, nullptr);
  }
  const float* h = signal_arrays::samples_of<float>(rir);
  const int64_t m = signal_arrays::element_count(rir);
  const int64_t keep = std::min<int64_t>(segment.size(), L);
  FloatArray out(static_cast<py::ssize_t>(L));
  float* y = out.mutable_data();
  {
    py::gil_scoped_release unlocked;
    mixsim::process_impulse_responses().convolve_into(h, m, segment.data(), segment.size(), y, keep);
  }
  std::fill(y + keep, y + L, 0.0f);
  return out;
}

void define_impulse_responses(PlainClass& cls) {
  cls.def("_load_and_resample_rir", &load_and_resample_rir, py::arg("rir_path"));
  cls.def(
      "_fft_convolve_truncate",
      [](py::object self, py::object signal, py::object ir) {
        (void)self;
        return fft_convolve_truncate_method(signal, ir);
      },
      py::arg("signal"), py::arg("ir"));
  OriginalConvolution& original = original_convolution();
  // Held for the life of the process, like the class itself.
  original.truncate_method = py::object(cls.type_object().attr("_fft_convolve_truncate")).release();
  original.fft_convolve = py::object(blendkit_attr("_fft_convolve")).release();
}

}  // namespace speech::mixture
