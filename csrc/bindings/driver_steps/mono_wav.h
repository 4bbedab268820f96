#pragma once
// The drivers' speaker streams and mixtures as one-channel wav files at the
// given rate, in libsndfile's default wav encoding (16-bit PCM), samples
// unchanged. float32 signals are written as they are; anything else goes
// through float64. Each file appears only whole (see write_wav), so a
// full disk never leaves a cut stream under a result name.
#include <pybind11/pybind11.h>

#include <string>

namespace speech {

// `path`: file-system bytes; `what` names the signal in the error for one
// that is not 1-D ("stream", "signal"); `rate` is cast to int only once the
// signal is known to be 1-D. `package` gives the `np` used.
void write_mono_wav(const char* package, const std::string& path, const pybind11::object& signal,
                    const pybind11::object& rate, const char* what);

}  // namespace speech
