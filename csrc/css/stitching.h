#pragma once
// Overlap-add of the windows' signals onto one time line per speaker, with
// linear ramps over the samples a window shares with its neighbours, and the
// division by the summed weights that turns the sums into weighted means.
#include <cstdint>
#include <vector>

namespace speech::css {

// `length` ones; unless `is_first` the first `overlap` values are a ramp
// 0 -> 1, then unless `is_last` the last `overlap` values a ramp 1 -> 0
// (replacing the first ramp where they meet), both ends included, spaced as
// NumPy's linspace spaces them. overlap <= 0 leaves all ones. An overlap
// longer than the window raises ValueError.
std::vector<double> create_overlap_window(int64_t length, int64_t overlap, bool is_first, bool is_last);

// Adds signal * window into stream[start...] and window into
// weights[start...], each sum formed in double and rounded to float32 as it
// is stored.
template <typename T>
void overlap_add(float* stream, float* weights, const T* signal, const std::vector<double>& window,
                 int64_t start);

// stream /= weights in float32 wherever the weight is above zero.
void normalise_stream(float* stream, const float* weights, int64_t length);

}  // namespace speech::css
