#pragma once
// The drawn utterances of one synthesis attempt: how each is loaded, and
// the segment cut from it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "mixsim/segment_reader.h"
#include "mixsim/utterance_crop.h"

namespace speech::mixture {

struct Source {
  pybind11::object speaker;
  pybind11::object path;
  FloatArray wave;
  // Set when the samples are still at the file's own rate: only the segment
  // that the crop keeps is resampled.
  std::optional<double> file_rate;
  double target_rate = 0.0;
  // Set when nothing has been read yet: the crop reads the frames it is
  // made from, and no others.
  std::unique_ptr<mixsim::SegmentReader> reader;

  // Samples at the target rate.
  int64_t length() const {
    const int64_t n = reader ? reader->frames() : wave.size();
    if (!file_rate) return n;
    return mixsim::resampled_utterance_length(n, *file_rate, target_rate);
  }
};

int64_t draw_int(const pybind11::object& stream, int64_t low, int64_t high);

// L samples of `wave`: with a stream, a crop at a drawn start when it is
// longer (mode "random"); without one its start (mode "start"); zero-padded
// when it is shorter.
FloatArray pad_or_crop(const FloatArray& wave, int64_t L, const pybind11::object* stream);

// The utterance's segment, its crop start drawn from `stream` when it is
// longer than L; nothing (and one warning line) when a file held open for
// its crop cannot be read after all.
std::optional<FloatArray> crop_source(const Source& source, int64_t L, const pybind11::object& stream);

// Loads every drawn (speaker id, path) pair. An unreadable file (an empty
// signal), one left at another rate because its resampling failed, or one
// holding a NaN or an infinity (one warning line, at any rate) would enter
// the batch under its speaker's label as silence, at the wrong rate or as
// NaN: the attempt fails instead (nothing is returned), once all sources are
// loaded and before any crop is drawn, and is retried.
std::optional<std::vector<Source>> load_sources(const pybind11::object& picks, const pybind11::object& target_sr);

}  // namespace speech::mixture
