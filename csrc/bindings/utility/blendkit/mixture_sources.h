#pragma once
// The drawn utterances of one synthesis attempt: how each is loaded, and
// the segment cut from it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "mixsim/mixture_synthesis.h"
#include "mixsim/utterance_source.h"

namespace speech::mixture {

struct Source {
  pybind11::object speaker;
  pybind11::object path;
  FloatArray wave;  // holds the samples in memory, when they are
  mixsim::UtteranceSource samples;
};

// A drawn utterance, and what the synthesis judges it by.
struct LoadedSource {
  Source source;
  mixsim::LoadedUtterance found;
};

// Loads one drawn utterance: as the package's own _load_audio reads it,
// crop-only where the file allows, while the package's readers are its own
// (`direct`); through the package's _load_audio otherwise.
LoadedSource load_source(const pybind11::object& speaker, const pybind11::object& path,
                         const pybind11::object& target_sr, bool direct);

// L samples of the source from `start`, zero-padded past its end; nothing
// (and one warning line) when a file held open for its crop cannot be read
// after all.
std::optional<FloatArray> crop_source(const Source& source, int64_t start, int64_t L);

// The first L samples of `wave`, zero-padded.
FloatArray fitted(const FloatArray& wave, int64_t L);

}  // namespace speech::mixture
