// The signal functions of the training stream, registered into the package in
// the order the module defines them.
#include <pybind11/pybind11.h>

#include "bindings/utility/blendkit/registration.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {

void bind_signal_functions(py::module_& m) {
  pyutil::def_function(m, "_safe_sf_read", &safe_sf_read, py::arg("path"), py::arg("dtype") = "float32");
  pyutil::def_function(m, "_load_audio", &load_audio, py::arg("path"), py::arg("target_sr"),
                       "\n"
                       "    使用 soundfile 读取（float32），多声道选第一个通道（不取平均）。\n"
                       "    若采样率不同，使用 librosa.resample 重采样到 target_sr。\n"
                       "    返回 numpy 1D float32 和采样率\n"
                       "    ");
  pyutil::def_function(m, "_fft_convolve", &fft_convolve, py::arg("signal"), py::arg("ir"));
  pyutil::def_function(m, "rms", &rms, py::arg("x"), py::arg("eps") = 1e-9);
  pyutil::def_function(m, "preserve_rms", &preserve_rms, py::arg("orig"), py::arg("processed"), py::arg("eps") = 1e-12);
  pyutil::def_function(m, "_scale_for_sir", &scale_for_sir, py::arg("target"), py::arg("interferer"), py::arg("sir_db"),
                       "按给定 SIR（dB）缩放 interferer，使得 RMS(target) / RMS(scaled_interferer) = 10^(sir_db/20)");
  pyutil::def_function(m, "_mix_noise_at_snr", &mix_noise_at_snr, py::arg("clean"), py::arg("noise"), py::arg("snr_db"),
                       py::arg("rng"));
}

}  // namespace speech
