#pragma once
// The package's own collaborators, noted when the module is made. While a
// step still reaches them, it may take a faster road that gives the same
// samples (an utterance read and resampled over its crop only, a source
// convolved through the spectrum kept with its impulse response); once a
// test or a user has replaced one, the step calls the replacement through
// the package, as the step is defined.
#include <pybind11/pybind11.h>

namespace speech::mixture {

// _load_audio, _safe_sf_read and librosa.resample, as the package holds them.
void remember_original_readers(const pybind11::module_& package);
// The dataset class's _fft_convolve_truncate and the package's _fft_convolve.
void remember_original_convolution(const pybind11::object& dataset_class, const pybind11::module_& package);

bool readers_are_original();
// Whether `dataset` convolves through its class's own method and the
// package's own _fft_convolve.
bool convolution_is_original(const pybind11::object& dataset);

}  // namespace speech::mixture
