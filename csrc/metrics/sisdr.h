#pragma once
// Batched scale-invariant SDR in dB. Every step is an ATen op in the order of
// the reference formula, so results match it bit for bit on the same library,
// autograd records the whole chain, and the inputs' device and promoted dtype
// carry through.
#include <ATen/ATen.h>

namespace speech::metrics {

// (batch, nsrc, nsample) x2 -> (batch, nsrc): estimate s against reference s.
// No shape checks: shapes that broadcast are scored as broadcast.
at::Tensor calculate_sisdr(const at::Tensor& estimation, const at::Tensor& origin, double eps);

// (batch, nsrc, nsample) x2 -> (batch, nsrc, nsrc); [b, i, j] is estimate j
// against reference i. Both tensors must be 3-D (ValueError with the
// interpreter's unpacking text, estimation first). With `check_shapes` the
// sizes must agree and nsrc < nsample (AssertionError); callers turn that off
// when the interpreter runs with assertions disabled.
at::Tensor pairwise_sisdr(const at::Tensor& estimation, const at::Tensor& origin, double eps, bool check_shapes);

}  // namespace speech::metrics
