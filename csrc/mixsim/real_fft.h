#pragma once
// Real-input FFTs through FFTW, for the convolutions of the training stream.
// A length's plans are made once per process and kept: making one costs
// milliseconds, running one a fraction of that. Plans are made with
// FFTW_ESTIMATE, whose choice depends only on the length and the machine,
// so every worker process and every run rounds alike and a seeded stream
// gives the same samples each time (a measured plan may differ run to run).
// The transforms run on work buffers held per thread and reused, so the
// pages of a transform are faulted in once rather than on every call.
#include <complex>
#include <cstdint>

#include "common/sample_view.h"

namespace speech::mixsim {

template <typename T>
class RealFft {
 public:
  using Complex = std::complex<T>;

  // The transform of length n (n >= 1), its plans made on first use and
  // shared. Thread-safe; the object is a cheap handle.
  static RealFft of_length(int64_t n);

  int64_t size() const { return size_; }
  // Complex bins of the spectrum of a real signal: size() / 2 + 1.
  int64_t bins() const { return size_ / 2 + 1; }

  // The spectrum of x (at most size() samples) zero-padded to size()
  // samples, left in this thread's work buffer of bins() values. The next
  // forward or inverse on this thread overwrites it.
  Complex* forward(common::SampleView<const T> x) const;

  // out[0, keep) = the first keep samples of the inverse transform of the
  // bins() values at `spectrum`, divided by size() (so that inverse of
  // forward gives the signal back). `spectrum` may be the work buffer that
  // forward returned; its contents are lost.
  template <typename Out>
  void inverse(const Complex* spectrum, Out* out, int64_t keep) const;

  struct Plans;

 private:
  RealFft(int64_t n, const Plans* plans) : size_(n), plans_(plans) {}

  int64_t size_ = 0;
  const Plans* plans_ = nullptr;
};

// Bin by bin a[k] *= b[k], written out so that it vectorises: the library's
// complex product calls out for every bin to handle infinities, which the
// spectra of finite signals never hold.
template <typename T>
void multiply_spectra(std::complex<T>* a, const std::complex<T>* b, int64_t bins);

}  // namespace speech::mixsim
