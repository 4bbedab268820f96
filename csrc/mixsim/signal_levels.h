#pragma once
// Levels of training signals and the gains that set one signal's level
// against another's, over host sample buffers. The arithmetic follows the
// array expressions the training stream is defined by, type for type: a
// float32 signal is squared and summed in float32 where those expressions
// keep its precision, and widened to double where they widen it.
#include <cstdint>

namespace speech::mixsim {

// sqrt(mean(x^2) + eps) with every sample widened to double first, so the
// squares of large integer samples cannot overflow. n > 0.
template <typename T>
double rms_level(const T* x, int64_t n, double eps);

// mean(x^2) in T's own precision. n > 0.
template <typename T>
T mean_square(const T* x, int64_t n);

// The noise samples that fit a clean signal of `length` samples: the window
// from `start` of a noise at least that long, else the noise repeated from
// its first sample.
template <typename T>
struct FittedNoise {
  const T* noise = nullptr;
  int64_t noise_length = 0;
  int64_t start = 0;
  int64_t length = 0;
  T operator[](int64_t i) const {
    return noise_length >= length ? noise[start + i] : noise[i % noise_length];
  }
};

// mean(noise^2) over the fitted samples, in T's own precision.
template <typename T>
T mean_square(const FittedNoise<T>& noise);

// The factor that brings noise of mean square `noise_ms` to the level of a
// signal of mean square `clean_ms` lowered by snr_db, both levels floored by
// 1e-9 inside the root (in double, as the widened scalar arithmetic does).
double noise_gain_for_snr(double clean_ms, double noise_ms, double snr_db);

// out[i] = clean[i] + noise[i] * gain, each step rounded to T, then to float.
template <typename T>
void add_scaled_noise(const T* clean, const FittedNoise<T>& noise, T gain, float* out);

// out[i] = x[i] * gain rounded to T, then converted to U.
template <typename T, typename U>
void scale_samples(const T* x, int64_t n, T gain, U* out);

}  // namespace speech::mixsim
