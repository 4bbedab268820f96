// load_audio_16k: libsndfile reads the file as 64-bit samples, the first
// channel is kept, other rates go through the module's `librosa` (the
// project's resampler) to 16 kHz, and a new float32 array comes back.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/registration.h"
#include "common/wav_io.h"
#include "driver/recording_input.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

// Channel 0 of the interleaved samples, converted to T.
template <typename T>
py::array_t<T> first_channel(const common::AudioData& audio) {
  py::array_t<T> out(static_cast<py::ssize_t>(audio.frames));
  common::copy_first_channel(audio, out.mutable_data());
  return out;
}

py::array_t<float> as_float32(const py::object& signal) {
  const auto samples = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(signal);
  if (!samples) throw py::error_already_set();
  py::array_t<float> out(samples.size());
  float* data = out.mutable_data();
  const double* in = samples.data();
  for (py::ssize_t i = 0; i < samples.size(); ++i) data[i] = static_cast<float>(in[i]);
  return out;
}

py::tuple load_audio_16k(const py::object& wav_path) {
  const std::string path = pyutil::fs_encode(wav_path);
  common::AudioData audio;
  {
    py::gil_scoped_release release;
    audio = common::read_audio(path);
  }
  if (audio.sample_rate == driver::kModelRate) return py::make_tuple(first_channel<float>(audio), py::int_(audio.sample_rate));
  const py::object resampled = triage_attr("librosa").attr("resample")(
      first_channel<double>(audio), py::arg("orig_sr") = audio.sample_rate, py::arg("target_sr") = driver::kModelRate);
  return py::make_tuple(as_float32(resampled), py::int_(driver::kModelRate));
}

}  // namespace

void define_load_audio(py::module_& m) {
  pyutil::def_function(m, "load_audio_16k", &load_audio_16k, py::arg("wav_path"),
                       "加载音频并重采样到 16kHz；多通道则取第一通道");
}

}  // namespace speech
