#pragma once
// Band-limited resampling with the Kaiser sinc filters. The interpolation is
// resampy's (the filter table read with linear interpolation between its
// entries, the output clock t * orig / target), and the output length is
// librosa's: ceil(n * target / orig), the tail zero-padded or trimmed.
#include <cstdint>
#include <vector>

#include "common/sample_view.h"
#include "resample/kaiser_filter.h"

namespace speech::resample {

// Both rates finite and positive, else ValueError.
void check_sample_rates(double orig_sr, double target_sr);

// ValueError when any sample is NaN or infinite.
template <typename T>
void check_finite(common::SampleView<const T> x);

// ceil(n * (target_sr / orig_sr)), the length of every result.
int64_t resampled_length(int64_t n, double orig_sr, double target_sr);

// Resamples x into out[0, resampled_length(x.size(), ...)). Equal rates copy the
// input. ValueError for bad rates, non-finite samples, or an input so short
// that the interpolation has no output sample.
template <typename T>
void resample_into(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter, T* out,
                   int64_t out_size);

template <typename T>
std::vector<T> resample(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter);

// Fails as resample_into fails for this input (bad rates, non-finite
// samples, too short an input, too low a ratio for the filter), without
// computing anything.
template <typename T>
void check_resample_input(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter);

// Samples [first, first + count) of resample(x, ...) into out[0, count),
// computed for that stretch only and equal to the whole signal's: a caller
// that keeps a crop of the result need not resample the rest. The stretch
// must lie within resampled_length(x.size(), ...); x must pass
// check_resample_input.
template <typename T>
void resample_span_into(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter,
                        int64_t first, int64_t count, T* out);

// check_resample_input for a signal of n samples without its samples: all
// but the finiteness of the samples.
void check_resample_shape(int64_t n, double orig_sr, double target_sr, ResampleFilter filter);

// Input samples [first, end) of a signal.
struct SampleStretch {
  int64_t first = 0;
  int64_t end = 0;
};

// The input samples that resampled samples [first, first + count) of a
// signal of n samples are made from: the filter's reach around each of
// them, within the signal. A caller reading a long file for a crop of its
// resampled signal reads only these.
SampleStretch input_for_span(int64_t n, double orig_sr, double target_sr, ResampleFilter filter, int64_t first,
                             int64_t count);

// resample_span_into with only input samples `have` at hand (x holds them,
// side by side, x[0] being sample have.first of the signal of n samples);
// they must cover input_for_span. The samples equal resample_span_into's bit
// for bit. The signal must pass check_resample_shape and be finite.
template <typename T>
void resample_span_from(common::SampleView<const T> x, const SampleStretch& have, int64_t n, double orig_sr,
                        double target_sr, ResampleFilter filter, int64_t first, int64_t count, T* out);

}  // namespace speech::resample
