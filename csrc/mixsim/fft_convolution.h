#pragma once
// Linear convolution of two real signals in the frequency domain: real FFTs
// at the smallest power-of-two length that holds the whole result, so the
// circular product never wraps around. float32 pairs are transformed in
// float32 (the training stream's signals), double pairs in double.
#include <cstdint>

namespace speech::mixsim {

// The smallest power of two not below n, for n >= 1 (1 for n = 1).
int64_t transform_length(int64_t n);

// Writes the first `keep` samples of the full convolution of signal[0, n)
// and ir[0, m), both non-empty, into out[0, keep); keep is at most
// n + m - 1. Neither input is changed. std::invalid_argument otherwise.
template <typename T>
void convolve_into(const T* signal, int64_t n, const T* ir, int64_t m, float* out, int64_t keep);

}  // namespace speech::mixsim
