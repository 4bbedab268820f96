#include "css/stitching.h"

#include <string>

#include "common/errors.h"

namespace speech::css {
namespace {

// NumPy's linspace: i * step + start with step = (stop - start) / (n - 1),
// the last value set to stop exactly; one value is just start.
void assign_ramp(double* out, int64_t count, double start, double stop) {
  if (count == 1) {
    out[0] = start;
    return;
  }
  const double step = (stop - start) / static_cast<double>(count - 1);
  for (int64_t i = 0; i < count; ++i) out[i] = static_cast<double>(i) * step + start;
  out[count - 1] = stop;
}

}  // namespace

std::vector<double> create_overlap_window(int64_t length, int64_t overlap, bool is_first, bool is_last) {
  std::vector<double> window(static_cast<size_t>(length), 1.0);
  if (overlap <= 0) return window;
  if (overlap > length) {
    throw ValueError("overlap of " + std::to_string(overlap) + " samples does not fit a window of " +
                     std::to_string(length) + " samples");
  }
  if (!is_first) assign_ramp(window.data(), overlap, 0.0, 1.0);
  if (!is_last) assign_ramp(window.data() + (length - overlap), overlap, 1.0, 0.0);
  return window;
}

template <typename T>
void overlap_add(float* stream, float* weights, const T* signal, const std::vector<double>& window,
                 int64_t start) {
  float* s = stream + start;
  float* w = weights + start;
  const int64_t length = static_cast<int64_t>(window.size());
  for (int64_t i = 0; i < length; ++i) {
    const double weight = window[i];
    s[i] = static_cast<float>(static_cast<double>(s[i]) + static_cast<double>(signal[i]) * weight);
    w[i] = static_cast<float>(static_cast<double>(w[i]) + weight);
  }
}

template void overlap_add<float>(float*, float*, const float*, const std::vector<double>&, int64_t);
template void overlap_add<double>(float*, float*, const double*, const std::vector<double>&, int64_t);

void normalise_stream(float* stream, const float* weights, int64_t length) {
  for (int64_t i = 0; i < length; ++i) {
    if (weights[i] > 0.0f) stream[i] = stream[i] / weights[i];
  }
}

}  // namespace speech::css
