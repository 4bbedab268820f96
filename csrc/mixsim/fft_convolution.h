#pragma once
// Linear convolution of two real signals in the frequency domain: real FFTs
// at the smallest power-of-two length that holds the whole result, so the
// circular product never wraps around. float32 pairs are transformed in
// float32 (the training stream's signals); anything else in double.
#include <ATen/ATen.h>

#include <cstdint>

namespace speech::mixsim {

// The smallest power of two not below n, for n >= 1 (1 for n = 1).
int64_t transform_length(int64_t n);

// Writes the first out.numel() samples of the full convolution of two
// non-empty 1-D real tensors into the 1-D float32 tensor `out`, which holds
// at most signal.numel() + ir.numel() - 1 samples. Neither input is changed.
void convolve_into(const at::Tensor& signal, const at::Tensor& ir, at::Tensor& out);

// The full convolution (signal.numel() + ir.numel() - 1 samples), float32;
// an empty float32 tensor when either input is empty.
at::Tensor fft_convolve(const at::Tensor& signal, const at::Tensor& ir);

// The full convolution cut to the signal's length: the output starts with the
// dry signal and the tail past its end is dropped. Empty when either input is.
at::Tensor fft_convolve_truncate(const at::Tensor& signal, const at::Tensor& ir);

}  // namespace speech::mixsim
