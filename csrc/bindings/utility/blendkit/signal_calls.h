#pragma once
// The module-level signal functions of blendkit as C++ calls on interpreter
// objects, for the bindings and for the dataset's methods that use them. Each
// takes its arguments as the interpreter passed them and reaches the module's
// other names (np, librosa, rms, _safe_sf_read, _fft_convolve) on the package
// at call time, so a test's patch of utility.blendkit.<name> is what runs.
#include <pybind11/pybind11.h>

#include "bindings/utility/blendkit/package_lookup.h"

namespace speech {

// (data, rate) of the whole file, or (empty float32, 16000) and one warning
// line when it cannot be read.
pybind11::object safe_sf_read(const pybind11::object& path, const pybind11::object& dtype);
// (1-D float32 first channel, rate) at target_sr when resampling succeeded.
pybind11::object load_audio(const pybind11::object& path, const pybind11::object& target_sr);

// Full linear convolution, float32; empty when either input is.
pybind11::object fft_convolve(const pybind11::object& signal, const pybind11::object& ir);
// The body of IterableSeparationDataset._fft_convolve_truncate (the dataset
// itself is not used): the package's _fft_convolve cut to signal.size
// samples, float32; empty when either input is.
pybind11::object fft_convolve_truncate_method(const pybind11::object& signal, const pybind11::object& ir);

pybind11::object rms(const pybind11::object& x, const pybind11::object& eps);
pybind11::object preserve_rms(const pybind11::object& orig, const pybind11::object& processed,
                              const pybind11::object& eps);
pybind11::object scale_for_sir(const pybind11::object& target, const pybind11::object& interferer,
                               const pybind11::object& sir_db);
pybind11::object mix_noise_at_snr(const pybind11::object& clean, const pybind11::object& noise,
                                  const pybind11::object& snr_db, const pybind11::object& rng);

}  // namespace speech
