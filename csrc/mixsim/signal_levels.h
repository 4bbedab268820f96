#pragma once
// Levels of training signals and the gains that set one signal's level
// against another's, over host sample buffers. The arithmetic follows the
// array expressions the training stream is defined by, type for type: a
// float32 signal is squared and summed in float32 where those expressions
// keep its precision, and widened to double where they widen it. Every run
// of samples here lies side by side.
#include <cstdint>

#include "common/sample_view.h"

namespace speech::mixsim {

// sqrt(mean(x^2) + eps) with every sample widened to double first, so the
// squares of large integer samples cannot overflow. x is not empty.
template <typename T>
double rms_level(common::SampleView<const T> x, double eps);

// mean(x^2) in T's own precision. x is not empty.
template <typename T>
T mean_square(common::SampleView<const T> x);

// The noise samples that fit a clean signal of `length` samples: the window
// from `start` of a noise at least that long, else the noise repeated from
// its first sample.
template <typename T>
struct FittedNoise {
  common::SampleView<const T> noise;
  int64_t start = 0;
  int64_t length = 0;
  bool is_window() const { return noise.size() >= length; }
  T operator[](int64_t i) const { return is_window() ? noise[start + i] : noise[i % noise.size()]; }
};

// mean(noise^2) over the fitted samples, in T's own precision.
template <typename T>
T mean_square(const FittedNoise<T>& noise);

// The factor that brings noise of mean square `noise_ms` to the level of a
// signal of mean square `clean_ms` lowered by snr_db, both levels floored by
// 1e-9 inside the root (in double, as the widened scalar arithmetic does).
double noise_gain_for_snr(double clean_ms, double noise_ms, double snr_db);

// out[i] = clean[i] + noise[i] * gain, each step rounded to T, then to
// float; clean holds noise.length samples.
template <typename T>
void add_scaled_noise(common::SampleView<const T> clean, const FittedNoise<T>& noise, T gain, float* out);

// out[i] = x[i] * gain rounded to T, then converted to U.
template <typename T, typename U>
void scale_samples(common::SampleView<const T> x, T gain, U* out);

}  // namespace speech::mixsim
