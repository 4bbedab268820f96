#include "mixsim/signal_levels.h"

#include <immintrin.h>

#include <cmath>
#include <stdexcept>
#include <type_traits>

#include "common/cpu_features.h"
#include "common/numpy_sum.h"

namespace speech::mixsim {

namespace {

template <typename T>
double widened_square(const T* x, int64_t i) {
  const double v = static_cast<double>(x[i]);
  return v * v;
}

// A block of squares of float samples, widened to double, with the eight
// partial sums as two rows of four lanes: each lane adds its squares in the
// order the plain form does.
__attribute__((target("avx2"))) inline __m256d four_squares(const float* x) {
  const __m256d v = _mm256_cvtps_pd(_mm_loadu_ps(x));
  return _mm256_mul_pd(v, v);
}

__attribute__((target("avx2"))) double squares_block_avx2(const float* x, int64_t n) {
  __m256d low = four_squares(x);
  __m256d high = four_squares(x + 4);
  int64_t i = 8;
  for (; i < n - (n % 8); i += 8) {
    low = _mm256_add_pd(low, four_squares(x + i));
    high = _mm256_add_pd(high, four_squares(x + i + 4));
  }
  double r[8];
  _mm256_storeu_pd(r, low);
  _mm256_storeu_pd(r + 4, high);
  double res = ((r[0] + r[1]) + (r[2] + r[3])) + ((r[4] + r[5]) + (r[6] + r[7]));
  for (; i < n; ++i) res += widened_square(x, i);
  return res;
}

template <typename T>
double sum_of_squares(const T* x, int64_t n) {
  const auto term = [x](int64_t i) { return widened_square(x, i); };
  if constexpr (std::is_same_v<T, float>) {
    if (common::cpu_has_avx2()) {
      return common::numpy_order_sum_with<double>(n, term, [x](int64_t b, int64_t k) { return squares_block_avx2(x + b, k); });
    }
  }
  return common::numpy_order_sum<double>(n, term);
}

}  // namespace

template <typename T>
double rms_level(common::SampleView<const T> x, double eps) {
  const int64_t n = x.size();
  return std::sqrt(sum_of_squares(x.contiguous_data(), n) / static_cast<double>(n) + eps);
}

template <typename T>
T mean_square(common::SampleView<const T> samples) {
  const T* x = samples.contiguous_data();
  const int64_t n = samples.size();
  const T sum = common::numpy_order_sum<T>(n, [x](int64_t i) { return static_cast<T>(x[i] * x[i]); });
  // The mean divides in double and rounds back to the element type.
  return static_cast<T>(static_cast<double>(sum) / static_cast<double>(n));
}

template <typename T>
T mean_square(const FittedNoise<T>& noise) {
  // A window is a plain run of samples: summed without the per-sample choice.
  if (noise.is_window()) return mean_square(noise.noise.subview(noise.start, noise.length));
  const T sum = common::numpy_order_sum<T>(noise.length, [&noise](int64_t i) {
    const T v = noise[i];
    return static_cast<T>(v * v);
  });
  return static_cast<T>(static_cast<double>(sum) / static_cast<double>(noise.length));
}

double noise_gain_for_snr(double clean_ms, double noise_ms, double snr_db) {
  constexpr double kFloor = 1e-9;
  const double rms_clean = std::sqrt(clean_ms + kFloor);
  const double rms_noise = std::sqrt(noise_ms + kFloor);
  const double target_noise_rms = rms_clean / std::pow(10.0, snr_db / 20.0);
  return target_noise_rms / rms_noise;
}

template <typename T>
void add_scaled_noise(common::SampleView<const T> clean_samples, const FittedNoise<T>& noise, T gain, float* out) {
  if (clean_samples.size() != noise.length) throw std::invalid_argument("the noise must fit the clean signal");
  const T* clean = clean_samples.contiguous_data();
  if (noise.is_window()) {
    const T* window = noise.noise.subview(noise.start, noise.length).contiguous_data();
    for (int64_t i = 0; i < noise.length; ++i) {
      out[i] = static_cast<float>(static_cast<T>(clean[i] + static_cast<T>(window[i] * gain)));
    }
    return;
  }
  for (int64_t i = 0; i < noise.length; ++i) {
    const T scaled = static_cast<T>(noise[i] * gain);
    out[i] = static_cast<float>(static_cast<T>(clean[i] + scaled));
  }
}

template <typename T, typename U>
void scale_samples(common::SampleView<const T> samples, T gain, U* out) {
  const T* x = samples.contiguous_data();
  for (int64_t i = 0; i < samples.size(); ++i) out[i] = static_cast<U>(static_cast<T>(x[i] * gain));
}

template double rms_level<float>(common::SampleView<const float>, double);
template double rms_level<double>(common::SampleView<const double>, double);
template double rms_level<int16_t>(common::SampleView<const int16_t>, double);
template double rms_level<int32_t>(common::SampleView<const int32_t>, double);
template double rms_level<int64_t>(common::SampleView<const int64_t>, double);
template float mean_square<float>(common::SampleView<const float>);
template double mean_square<double>(common::SampleView<const double>);
template float mean_square<float>(const FittedNoise<float>&);
template double mean_square<double>(const FittedNoise<double>&);
template void add_scaled_noise<float>(common::SampleView<const float>, const FittedNoise<float>&, float, float*);
template void add_scaled_noise<double>(common::SampleView<const double>, const FittedNoise<double>&, double, float*);
template void scale_samples<float, float>(common::SampleView<const float>, float, float*);
template void scale_samples<double, double>(common::SampleView<const double>, double, double*);
template void scale_samples<double, float>(common::SampleView<const double>, double, float*);

}  // namespace speech::mixsim
