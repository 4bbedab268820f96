#pragma once
// Scale measures of separated signals against a reference, as tensor code:
// they run on the tensors' device and keep their dtype, and the caller's
// autograd state applies.
#include <ATen/ATen.h>

namespace speech::css {

inline constexpr double kDefaultEps = 1e-8;

// Least-squares gain of every source row of `estimation` [B, S, T] against
// `origin` (broadcasting against it, [B, 1, T] in use), both made zero-mean
// over dimension 2 first. Result [B, S, 1]; nothing is clamped.
at::Tensor calculate_scale(const at::Tensor& estimation, const at::Tensor& origin,
                           double eps = kDefaultEps);

// Scale-invariant SDR of `estimation` against `reference` in dB, reduced over
// all elements. eps enters the reference energy, the noise energy and the
// ratio inside the logarithm, so the value never drops below 10*log10(eps).
double calculate_sisdr(const at::Tensor& estimation, const at::Tensor& reference,
                       double eps = kDefaultEps);

}  // namespace speech::css
