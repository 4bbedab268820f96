// The recordings a synthesis mixes in besides speech: impulse responses and
// noise, each read, reduced to its first channel and brought to the
// dataset's rate once per dataset and process, then served from the
// dataset's cache; and the convolution cut back to the dry signal's length.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "bindings/utility/blendkit/mixture_sources.h"
#include "bindings/utility/blendkit/package_originals.h"
#include "bindings/utility/blendkit/signal_arrays.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "mixsim/impulse_response_store.h"
#include "mixsim/signal_faults.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

py::object resample_call(const py::object& signal, const py::object& orig_sr, const py::object& target_sr) {
  return blendkit_attr("librosa").attr("resample")(
      signal, py::arg("orig_sr") = orig_sr, py::arg("target_sr") = target_sr, py::arg("res_type") = "kaiser_fast");
}

// `recording`, brought to the dataset's rate by `resample` when `resampled`,
// stored in `cache` under `path` as a contiguous float32 array. When the
// resampling raises, the recording stays at its own rate after one warning
// line, for good: the cache keeps it so.
template <typename Resample>
py::object store_prepared(const py::dict& cache, const py::object& path, py::object recording, bool resampled,
                          const char* phrase, Resample&& resample) {
  if (resampled) {
    try {
      recording = resample(float32_asarray(recording));
    } catch (py::error_already_set& e) {
      if (!pyutil::is_ordinary(e)) throw;
      print_warning(phrase, path, e);
    }
  }
  recording = contiguous_float32(recording);
  cache[path] = recording;
  return recording;
}

// A non-finite or all-zero impulse response is cached as an empty one,
// which leaves its source dry; one warning line per file and process.
// Judged at the file's own rate, before resampling would refuse a
// non-finite one.
bool refuse_impulse_response(const py::object& rir_path, const py::object& rir) {
  if (size_of(rir) == 0) return false;
  const FloatArray samples = float32_view(rir);
  const std::optional<mixsim::ImpulseResponseFault> fault = mixsim::impulse_response_fault(array_samples(samples));
  if (!fault) return false;
  print_warning(fault->non_finite ? "non-finite RIR " : "silent RIR ", rir_path, fault->reason);
  return true;
}

py::object load_and_resample_rir(py::object self, py::object rir_path) {
  const py::dict cache = self.attr("_rir_cache");
  if (cache.contains(rir_path)) return cache[rir_path];
  const auto read = pyutil::unpack_pair(blendkit_attr("_safe_sf_read")(rir_path, py::arg("dtype") = "float32"));
  const py::object& rir_sr = read.second;
  py::object rir = first_channel(read.first);
  if (refuse_impulse_response(rir_path, rir)) {
    const py::object empty = float_zeros(0);
    cache[rir_path] = empty;
    return empty;
  }
  const py::object target_sr = self.attr("target_sr");
  return store_prepared(cache, rir_path, rir, rir_sr.not_equal(target_sr), "failed resample RIR ",
                        [&](const py::object& x) { return resample_call(x, rir_sr, target_sr); });
}

// A noise holding a non-finite sample would be refused whole by the
// resampler; it is resampled with those samples zeroed and NaN put back
// where they land, so that at every rate only the segments that reach one
// are refused.
py::object resample_noise(const FloatArray& noise, const py::object& noise_sr, const py::object& target_sr) {
  if (!mixsim::first_non_finite(array_samples(noise))) return resample_call(noise, noise_sr, target_sr);
  FloatArray zeroed(noise.size());
  std::copy(noise.data(), noise.data() + noise.size(), zeroed.mutable_data());
  mixsim::zero_non_finite(writable_samples(zeroed));
  // A copy of its own, whatever the resampler returned, to mark in place.
  FloatArray resampled =
      blendkit_attr("np").attr("array")(resample_call(zeroed, noise_sr, target_sr), py::arg("dtype") = "float32");
  mixsim::restore_non_finite(array_samples(noise), py::cast<double>(noise_sr), py::cast<double>(target_sr),
                             writable_samples(resampled));
  return std::move(resampled);
}

}  // namespace

py::object prepared_noise(const py::object& dataset, const py::object& path) {
  const py::dict cache = dataset.attr("_noise_cache");
  if (cache.contains(path)) return cache[path];
  const auto read = pyutil::unpack_pair(blendkit_attr("_safe_sf_read")(path, py::arg("dtype") = "float32"));
  const py::object& noise_sr = read.second;
  const py::object noise = first_channel(read.first);
  const py::object target_sr = dataset.attr("target_sr");
  return store_prepared(cache, path, noise, noise_sr.not_equal(target_sr) && size_of(noise) > 0,
                        "failed resample noise ",
                        [&](const py::object& x) { return resample_noise(x, noise_sr, target_sr); });
}

FloatArray reverberated_source(const py::object& dataset, const FloatArray& segment, const py::object& rir, int64_t L) {
  const bool kept_spectrum = signal_arrays::holds_samples<float>(rir) &&
                             py::reinterpret_borrow<py::array>(rir).ndim() == 1 && segment.size() > 0 &&
                             convolution_is_original(dataset);
  if (!kept_spectrum) return fitted(float32_view(dataset.attr("_fft_convolve_truncate")(segment, rir)), L);
  const common::SampleView<const float> h = signal_arrays::in_place_samples<float>(rir);
  const int64_t keep = std::min<int64_t>(segment.size(), L);
  FloatArray out(static_cast<py::ssize_t>(L));
  float* y = out.mutable_data();
  {
    py::gil_scoped_release unlocked;
    mixsim::process_impulse_responses().convolve_into(h, array_samples(segment), y, keep);
  }
  std::fill(y + keep, y + L, 0.0f);
  return out;
}

void define_impulse_responses(pyutil::PlainClass& cls, const py::module_& package) {
  cls.def("_load_and_resample_rir", &load_and_resample_rir, py::arg("rir_path"));
  cls.def(
      "_fft_convolve_truncate",
      [](py::object self, py::object signal, py::object ir) {
        (void)self;
        return fft_convolve_truncate_method(signal, ir);
      },
      py::arg("signal"), py::arg("ir"));
  remember_original_convolution(cls.type_object(), package);
}

}  // namespace speech::mixture
