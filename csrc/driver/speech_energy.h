#pragma once
// Energy of the voice-activity-detected part of one stream: the kept speech
// spans are joined in order, and their mean square and duration measured.
#include <cstdint>
#include <vector>

#include "common/sample_view.h"

namespace speech::driver {

// One detector span in samples, "end" exclusive, as the detector gave it
// (possibly negative or past the end of the stream).
struct SpeechSpan {
  int64_t start = 0;
  int64_t end = 0;
};

struct SpeechEnergy {
  double mean_energy = 0.0;
  double duration_sec = 0.0;
};

// The half-open range [begin, end) that slicing a sequence of `length` items
// with [start:stop] selects, negative indices counting from the end and
// out-of-range ones clamped, as the interpreter slices.
struct SliceRange {
  int64_t begin = 0;
  int64_t end = 0;
};
SliceRange slice_range(int64_t start, int64_t stop, int64_t length);

// Spans with end <= start are skipped; no span kept gives (0, 0). The squares
// and their mean are taken in T, as NumPy would for an array of that type; a
// kept span that slices to nothing still counts as kept (an empty selection
// then has a NaN mean).
template <typename T>
SpeechEnergy speech_mean_energy(common::SampleView<const T> samples, const std::vector<SpeechSpan>& spans, double sample_rate);

}  // namespace speech::driver
