#pragma once
// Linear convolution of two real signals in the frequency domain: real FFTs
// at a length that holds the whole result, so the circular product never
// wraps around. float32 pairs are transformed in float32 (the training
// stream's signals), double pairs in double.
#include <cstdint>

#include "common/sample_view.h"

namespace speech::mixsim {

// The transform length for a full convolution of n >= 1 samples: the
// smallest 2^a * 3^b * 5^c not below n with a >= 6 (at least 64 samples in
// powers of two), or the smallest power of two when that is smaller or n is
// at most 64. FFTW runs such lengths with its fastest kernels: 57600 for a
// 3 s segment and a 0.5 s response takes about 3/4 of the time of 65536.
int64_t transform_length(int64_t n);

// Writes the first `keep` samples of the full convolution of the signal and
// the response, both non-empty, into out[0, keep); keep is at most
// signal.size() + ir.size() - 1. Neither input is changed.
// std::invalid_argument otherwise.
template <typename T>
void convolve_into(common::SampleView<const T> signal, common::SampleView<const T> ir, float* out, int64_t keep);

}  // namespace speech::mixsim
