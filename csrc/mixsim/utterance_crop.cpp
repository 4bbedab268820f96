#include "mixsim/utterance_crop.h"

#include <algorithm>

namespace speech::mixsim {

namespace {
constexpr resample::ResampleFilter kUtteranceFilter = resample::ResampleFilter::kKaiserFast;

// Of the crop's L samples, those the resampled utterance has.
int64_t kept_samples(int64_t n, double orig_sr, double target_sr, int64_t start, int64_t L) {
  const int64_t total = resample::resampled_length(n, orig_sr, target_sr);
  return std::max<int64_t>(0, std::min(L, total - start));
}
}  // namespace

int64_t resampled_utterance_length(int64_t n, double orig_sr, double target_sr) {
  return resample::resampled_length(n, orig_sr, target_sr);
}

void check_utterance_resampling(common::SampleView<const float> x, double orig_sr, double target_sr) {
  resample::check_resample_input(x, orig_sr, target_sr, kUtteranceFilter);
}

void check_utterance_resampling_shape(int64_t n, double orig_sr, double target_sr) {
  resample::check_resample_shape(n, orig_sr, target_sr, kUtteranceFilter);
}

void crop_resampled_utterance(common::SampleView<const float> x, double orig_sr, double target_sr, int64_t start, int64_t L,
                              float* out) {
  const int64_t kept = kept_samples(x.size(), orig_sr, target_sr, start, L);
  if (kept > 0) resample::resample_span_into(x, orig_sr, target_sr, kUtteranceFilter, start, kept, out);
  std::fill(out + kept, out + L, 0.0f);
}

resample::SampleStretch frames_for_crop(int64_t n, double orig_sr, double target_sr, int64_t start, int64_t L) {
  const int64_t kept = kept_samples(n, orig_sr, target_sr, start, L);
  if (kept == 0) return {0, 0};
  return resample::input_for_span(n, orig_sr, target_sr, kUtteranceFilter, start, kept);
}

void crop_resampled_frames(common::SampleView<const float> x, const resample::SampleStretch& have, int64_t n,
                           double orig_sr, double target_sr, int64_t start, int64_t L, float* out) {
  const int64_t kept = kept_samples(n, orig_sr, target_sr, start, L);
  if (kept > 0) resample::resample_span_from(x, have, n, orig_sr, target_sr, kUtteranceFilter, start, kept, out);
  std::fill(out + kept, out + L, 0.0f);
}

}  // namespace speech::mixsim
