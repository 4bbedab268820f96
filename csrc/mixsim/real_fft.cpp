#include "mixsim/real_fft.h"

#include <fftw3.h>
#include <immintrin.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "common/cpu_features.h"

namespace speech::mixsim {
namespace {

// The FFTW calls of each precision.
template <typename T>
struct Fftw;

template <>
struct Fftw<float> {
  using Plan = fftwf_plan;
  using Complex = fftwf_complex;
  static void* malloc(size_t bytes) { return fftwf_malloc(bytes); }
  static void free(void* p) { fftwf_free(p); }
  static Plan forward(int n, float* in, Complex* out) { return fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE); }
  static Plan inverse(int n, Complex* in, float* out) {
    return fftwf_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
  }
  static void run_forward(Plan p, float* in, Complex* out) { fftwf_execute_dft_r2c(p, in, out); }
  static void run_inverse(Plan p, Complex* in, float* out) { fftwf_execute_dft_c2r(p, in, out); }
  static void destroy(Plan p) { fftwf_destroy_plan(p); }
};

template <>
struct Fftw<double> {
  using Plan = fftw_plan;
  using Complex = fftw_complex;
  static void* malloc(size_t bytes) { return fftw_malloc(bytes); }
  static void free(void* p) { fftw_free(p); }
  static Plan forward(int n, double* in, Complex* out) { return fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE); }
  static Plan inverse(int n, Complex* in, double* out) {
    return fftw_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
  }
  static void run_forward(Plan p, double* in, Complex* out) { fftw_execute_dft_r2c(p, in, out); }
  static void run_inverse(Plan p, Complex* in, double* out) { fftw_execute_dft_c2r(p, in, out); }
  static void destroy(Plan p) { fftw_destroy_plan(p); }
};

// Memory aligned as FFTW aligns its own: a plan made on such buffers may use
// its vector code on any other such buffer.
template <typename T>
struct AlignedFree {
  void operator()(void* p) const { Fftw<T>::free(p); }
};

template <typename T, typename E>
std::unique_ptr<E[], AlignedFree<T>> aligned_array(int64_t count) {
  void* p = Fftw<T>::malloc(static_cast<size_t>(std::max<int64_t>(count, 1)) * sizeof(E));
  if (p == nullptr) throw std::bad_alloc();
  return std::unique_ptr<E[], AlignedFree<T>>(static_cast<E*>(p));
}

template <typename T>
using RealBuffer = std::unique_ptr<T[], AlignedFree<T>>;
template <typename T>
using ComplexBuffer = std::unique_ptr<std::complex<T>[], AlignedFree<T>>;

// This thread's work buffers, kept from one transform to the next. They are
// made anew for a longer transform, and for a much shorter one, so that one
// long convolution does not leave its memory held by the thread.
template <typename T>
struct WorkBuffers {
  int64_t capacity = 0;
  RealBuffer<T> real;
  ComplexBuffer<T> spectrum;

  void reserve(int64_t n) {
    if (n <= capacity && n >= capacity / 4) return;
    real = aligned_array<T, T>(n);
    spectrum = aligned_array<T, std::complex<T>>(n / 2 + 1);
    capacity = n;
  }
};

template <typename T>
WorkBuffers<T>& work_buffers(int64_t n) {
  thread_local WorkBuffers<T> buffers;
  buffers.reserve(n);
  return buffers;
}

template <typename T>
typename Fftw<T>::Complex* as_fftw(std::complex<T>* p) {
  // std::complex<T> is laid out as T[2], which is FFTW's complex type.
  return reinterpret_cast<typename Fftw<T>::Complex*>(p);
}

// FFTW's planner is not thread-safe: every plan is made and kept under one
// lock, for the life of the process.
std::mutex& planner_mutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

template <typename T>
struct RealFft<T>::Plans {
  typename Fftw<T>::Plan forward = nullptr;
  typename Fftw<T>::Plan inverse = nullptr;

  explicit Plans(int64_t n) {
    if (n < 1 || n > (int64_t{1} << 30)) throw std::invalid_argument("RealFft: unsupported transform length");
    RealBuffer<T> real = aligned_array<T, T>(n);
    ComplexBuffer<T> spectrum = aligned_array<T, std::complex<T>>(n / 2 + 1);
    forward = Fftw<T>::forward(static_cast<int>(n), real.get(), as_fftw(spectrum.get()));
    inverse = Fftw<T>::inverse(static_cast<int>(n), as_fftw(spectrum.get()), real.get());
    if (forward == nullptr || inverse == nullptr) {
      release();
      throw std::runtime_error("FFTW could not plan a transform of length " + std::to_string(n));
    }
  }
  Plans(const Plans&) = delete;
  Plans& operator=(const Plans&) = delete;
  ~Plans() { release(); }

  void release() {
    if (forward != nullptr) Fftw<T>::destroy(forward);
    if (inverse != nullptr) Fftw<T>::destroy(inverse);
    forward = inverse = nullptr;
  }
};

template <typename T>
RealFft<T> RealFft<T>::of_length(int64_t n) {
  static std::map<int64_t, std::unique_ptr<const Plans>> plans;
  const std::lock_guard<std::mutex> lock(planner_mutex());
  auto& slot = plans[n];
  if (!slot) slot = std::make_unique<const Plans>(n);
  return RealFft(n, slot.get());
}

template <typename T>
typename RealFft<T>::Complex* RealFft<T>::forward(common::SampleView<const T> x) const {
  const int64_t count = x.size();
  if (count > size_) throw std::invalid_argument("RealFft::forward: more samples than the length");
  WorkBuffers<T>& work = work_buffers<T>(size_);
  common::copy_samples(x, work.real.get());
  std::fill(work.real.get() + count, work.real.get() + size_, T(0));
  Fftw<T>::run_forward(plans_->forward, work.real.get(), as_fftw(work.spectrum.get()));
  return work.spectrum.get();
}

template <typename T>
template <typename Out>
void RealFft<T>::inverse(const Complex* spectrum, Out* out, int64_t keep) const {
  if (keep < 0 || keep > size_) throw std::invalid_argument("RealFft::inverse: more samples than the length");
  WorkBuffers<T>& work = work_buffers<T>(size_);
  // The inverse plan overwrites its input, and runs on aligned memory only.
  if (spectrum != work.spectrum.get()) std::copy(spectrum, spectrum + bins(), work.spectrum.get());
  Fftw<T>::run_inverse(plans_->inverse, as_fftw(work.spectrum.get()), work.real.get());
  const T scale = T(1) / static_cast<T>(size_);
  const T* y = work.real.get();
  for (int64_t i = 0; i < keep; ++i) out[i] = static_cast<Out>(y[i] * scale);
}

namespace {

template <typename T>
void multiply_plain(T* x, const T* y, int64_t bins) {
  for (int64_t k = 0; k < bins; ++k) {
    const T re = x[2 * k] * y[2 * k] - x[2 * k + 1] * y[2 * k + 1];
    const T im = x[2 * k] * y[2 * k + 1] + x[2 * k + 1] * y[2 * k];
    x[2 * k] = re;
    x[2 * k + 1] = im;
  }
}

// Four bins at a time: (ar br - ai bi, ai br + ar bi), the same products
// and sums as above (a sum of two terms does not depend on their order).
__attribute__((target("avx2"))) void multiply_avx2(float* x, const float* y, int64_t bins) {
  int64_t k = 0;
  for (; k + 4 <= bins; k += 4) {
    const __m256 a = _mm256_loadu_ps(x + 2 * k);
    const __m256 b = _mm256_loadu_ps(y + 2 * k);
    const __m256 by_re = _mm256_mul_ps(a, _mm256_moveldup_ps(b));
    const __m256 by_im = _mm256_mul_ps(_mm256_permute_ps(a, 0xB1), _mm256_movehdup_ps(b));
    _mm256_storeu_ps(x + 2 * k, _mm256_addsub_ps(by_re, by_im));
  }
  multiply_plain(x + 2 * k, y + 2 * k, bins - k);
}

}  // namespace

template <typename T>
void multiply_spectra(std::complex<T>* a, const std::complex<T>* b, int64_t bins) {
  T* x = reinterpret_cast<T*>(a);
  const T* y = reinterpret_cast<const T*>(b);
  if constexpr (std::is_same_v<T, float>) {
    if (common::cpu_has_avx2()) return multiply_avx2(x, y, bins);
  }
  multiply_plain(x, y, bins);
}

template class RealFft<float>;
template class RealFft<double>;
template void RealFft<float>::inverse<float>(const Complex*, float*, int64_t) const;
template void RealFft<double>::inverse<float>(const Complex*, float*, int64_t) const;
template void RealFft<double>::inverse<double>(const Complex*, double*, int64_t) const;
template void multiply_spectra<float>(std::complex<float>*, const std::complex<float>*, int64_t);
template void multiply_spectra<double>(std::complex<double>*, const std::complex<double>*, int64_t);

}  // namespace speech::mixsim
