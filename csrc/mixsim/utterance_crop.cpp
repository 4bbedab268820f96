#include "mixsim/utterance_crop.h"

#include <algorithm>

#include "resample/resampler.h"

namespace speech::mixsim {

namespace {
constexpr ResampleFilter kUtteranceFilter = ResampleFilter::kKaiserFast;
}

int64_t resampled_utterance_length(int64_t n, double orig_sr, double target_sr) {
  return resampled_length(n, orig_sr, target_sr);
}

void check_utterance_resampling(const float* x, int64_t n, double orig_sr, double target_sr) {
  check_resample_input(contiguous_run(x, n), orig_sr, target_sr, kUtteranceFilter);
}

void crop_resampled_utterance(const float* x, int64_t n, double orig_sr, double target_sr, int64_t start,
                              int64_t L, float* out) {
  const int64_t total = resampled_length(n, orig_sr, target_sr);
  const int64_t kept = std::max<int64_t>(0, std::min(L, total - start));
  if (kept > 0) resample_span_into(contiguous_run(x, n), orig_sr, target_sr, kUtteranceFilter, start, kept, out);
  std::fill(out + kept, out + L, 0.0f);
}

}  // namespace speech::mixsim
