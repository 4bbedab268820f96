#pragma once
// A segment cut from an utterance recorded at another rate: the crop of the
// "kaiser_fast" resampled utterance, computed for the cropped stretch only.
// Each sample equals the one that resampling the whole utterance and then
// cropping gives, so only a segment's worth of interpolation is done per
// utterance instead of the whole recording's.
#include <cstdint>

namespace speech::mixsim {

// Samples the utterance has once resampled from orig_sr to target_sr.
int64_t resampled_utterance_length(int64_t n, double orig_sr, double target_sr);

// Fails (ValueError) where resampling the whole utterance would fail.
void check_utterance_resampling(const float* x, int64_t n, double orig_sr, double target_sr);

// out[0, L): resampled samples [start, start + L), zero-padded past the
// resampled utterance's end.
void crop_resampled_utterance(const float* x, int64_t n, double orig_sr, double target_sr, int64_t start,
                              int64_t L, float* out);

}  // namespace speech::mixsim
