#pragma once
// A segment cut from an utterance recorded at another rate: the crop of the
// "kaiser_fast" resampled utterance, computed for the cropped stretch only.
// Each sample equals the one that resampling the whole utterance and then
// cropping gives, so only a segment's worth of interpolation is done per
// utterance instead of the whole recording's, and a file need only be read
// over the frames that stretch is made from.
#include <cstdint>

#include "resample/resampler.h"

namespace speech::mixsim {

// Samples the utterance has once resampled from orig_sr to target_sr.
int64_t resampled_utterance_length(int64_t n, double orig_sr, double target_sr);

// Fails (ValueError) where resampling the whole utterance would fail.
void check_utterance_resampling(common::SampleView<const float> x, double orig_sr, double target_sr);

// The same for an utterance of n frames whose samples have not been read:
// every failure but that of a sample that is not finite.
void check_utterance_resampling_shape(int64_t n, double orig_sr, double target_sr);

// out[0, L): resampled samples [start, start + L), zero-padded past the
// resampled utterance's end.
void crop_resampled_utterance(common::SampleView<const float> x, double orig_sr, double target_sr, int64_t start, int64_t L,
                              float* out);

// The frames of an utterance of n frames that its crop [start, start + L)
// is made from.
resample::SampleStretch frames_for_crop(int64_t n, double orig_sr, double target_sr, int64_t start, int64_t L);

// crop_resampled_utterance with only those frames at hand: x holds frames
// `have` of the n, side by side, which cover frames_for_crop. Equal bit for
// bit.
void crop_resampled_frames(common::SampleView<const float> x, const resample::SampleStretch& have, int64_t n,
                           double orig_sr, double target_sr, int64_t start, int64_t L, float* out);

}  // namespace speech::mixsim
