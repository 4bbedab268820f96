#pragma once
// Overlap-add of the windows' signals onto one time line per speaker, with
// linear ramps over the samples a window shares with its neighbours, and the
// division by the summed weights that turns the sums into weighted means.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace speech::css {

// `length` ones; unless `is_first` the first `overlap` values are a ramp
// 0 -> 1, then unless `is_last` the last `overlap` values a ramp 1 -> 0
// (replacing the first ramp where they meet), both ends included, spaced as
// NumPy's linspace spaces them. overlap <= 0 leaves all ones. An overlap
// longer than the window raises ValueError.
std::vector<double> create_overlap_window(int64_t length, int64_t overlap, bool is_first, bool is_last);

// One signal of one record, placed on the time line.
struct StitchPiece {
  int64_t start = 0;                     // first sample in the recording
  const std::vector<double>* window = nullptr;  // its weights; the span is window->size()
  const float* f32 = nullptr;            // the signal, one of the two
  const double* f64 = nullptr;
  size_t speaker = 0;                    // index of the stream it adds to
};

// Fills `streams` (total samples each, one per speaker) with the weighted
// mean of the pieces covering each sample: sum(signal * weight) / sum(weight)
// where the summed weight is above zero, else the plain sum. Per sample the
// pieces are added in list order, each sum formed in double and rounded to
// float32 as it is stored, and the division is made in float32, so the
// result is that of accumulating into full-length float32 arrays; only a
// block of the time line is held at a time.
void stitch_streams(const std::vector<StitchPiece>& pieces, const std::vector<float*>& streams,
                    int64_t total_samples);

}  // namespace speech::css
