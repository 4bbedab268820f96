#include "css/windowing.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/errors.h"

namespace speech::css {

int64_t count_windows(int64_t total_samples, int64_t seg_samples, int64_t hop_samples) {
  if (hop_samples == 0) throw common::ZeroDivisionError("division by zero");
  const double ratio = static_cast<double>(total_samples - seg_samples) / static_cast<double>(hop_samples);
  return static_cast<int64_t>(std::ceil(ratio)) + 1;
}

void check_window_layout(int64_t seg_samples, int64_t hop_samples, int64_t padding_samples) {
  if (seg_samples <= 0 || hop_samples < 0) {
    throw common::ValueError("seg_samples and hop_samples must be positive, got " + std::to_string(seg_samples) + " and " +
                     std::to_string(hop_samples));
  }
  if (padding_samples < 0) {
    throw common::ValueError("padding_samples must not be negative, got " + std::to_string(padding_samples));
  }
}

WindowSpan window_span(int64_t index, int64_t total_samples, int64_t seg_samples, int64_t hop_samples) {
  WindowSpan span;
  span.start = index * hop_samples;
  const int64_t end = std::min(span.start + seg_samples, total_samples);
  span.actual_len = std::max<int64_t>(0, end - span.start);
  return span;
}

template <typename T>
void fill_network_input(common::SampleView<const T> recording, const WindowSpan& span, int64_t seg_samples, int64_t padding,
                        float* out) {
  const int64_t total = seg_samples + 2 * padding;
  std::fill(out, out + total, 0.0f);
  const common::SampleView<const T> window = recording.subview(span.start, span.actual_len);
  float* dest = out + padding;
  for (int64_t i = 0; i < window.size(); ++i) dest[i] = static_cast<float>(window[i]);
}

template void fill_network_input<float>(common::SampleView<const float>, const WindowSpan&, int64_t, int64_t, float*);
template void fill_network_input<double>(common::SampleView<const double>, const WindowSpan&, int64_t, int64_t, float*);

}  // namespace speech::css
