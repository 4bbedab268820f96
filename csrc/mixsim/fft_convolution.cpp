#include "mixsim/fft_convolution.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "mixsim/real_fft.h"

namespace speech::mixsim {

int64_t transform_length(int64_t n) {
  int64_t power_of_two = 1;
  while (power_of_two < n) power_of_two <<= 1;
  constexpr int64_t kLeastPowerOfTwo = 64;
  if (n <= kLeastPowerOfTwo) return power_of_two;
  int64_t best = power_of_two;
  for (int64_t threes = 1; threes < best; threes *= 3) {
    for (int64_t odd = threes; odd < best; odd *= 5) {
      int64_t length = odd * kLeastPowerOfTwo;
      while (length < n) length <<= 1;
      best = std::min(best, length);
    }
  }
  return best;
}

template <typename T>
void convolve_into(common::SampleView<const T> signal, common::SampleView<const T> ir, float* out, int64_t keep) {
  const int64_t n = signal.size();
  const int64_t m = ir.size();
  if (n < 1 || m < 1) throw std::invalid_argument("convolve_into: empty input");
  if (keep < 0 || keep > n + m - 1) throw std::invalid_argument("convolve_into: more samples than the convolution");
  const RealFft<T> fft = RealFft<T>::of_length(transform_length(n + m - 1));
  const auto* ir_bins = fft.forward(ir);
  const std::vector<std::complex<T>> ir_spectrum(ir_bins, ir_bins + fft.bins());
  auto* spectrum = fft.forward(signal);
  multiply_spectra(spectrum, ir_spectrum.data(), fft.bins());
  fft.inverse(spectrum, out, keep);
}

template void convolve_into<float>(common::SampleView<const float>, common::SampleView<const float>, float*, int64_t);
template void convolve_into<double>(common::SampleView<const double>, common::SampleView<const double>, float*, int64_t);

}  // namespace speech::mixsim
