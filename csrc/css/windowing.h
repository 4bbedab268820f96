#pragma once
// Cutting a recording into overlapping windows and building the network's
// zero-margined float32 input for one window.
#include <cstdint>

#include "common/sample_view.h"

namespace speech::css {

// ceil((total - seg) / hop) + 1 with a true division; 0 or less means no
// window. A hop of 0 is the division's ZeroDivisionError.
int64_t count_windows(int64_t total_samples, int64_t seg_samples, int64_t hop_samples);

// A window of no length or a negative hop or margin would read outside the
// recording: ValueError. Checked once there is a window to process.
void check_window_layout(int64_t seg_samples, int64_t hop_samples, int64_t padding_samples);

struct WindowSpan {
  int64_t start = 0;       // first sample in the recording
  int64_t actual_len = 0;  // real samples held, before zero-filling
  int64_t end() const { return start + actual_len; }
};

// Window `index` starts at index * hop and ends at min(start + seg, total),
// as a slice would (a start past the end holds nothing).
WindowSpan window_span(int64_t index, int64_t total_samples, int64_t seg_samples, int64_t hop_samples);

// Writes `padding` zeros, the window's samples of the recording converted to
// float32 and zero-filled to `seg_samples`, and `padding` zeros into `out`
// (seg_samples + 2 * padding floats).
template <typename T>
void fill_network_input(common::SampleView<const T> recording, const WindowSpan& span, int64_t seg_samples, int64_t padding,
                        float* out);

}  // namespace speech::css
