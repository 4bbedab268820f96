#include "mixsim/fft_convolution.h"

#include <torch/torch.h>

#include "common/errors.h"

namespace speech::mixsim {
namespace {

at::ScalarType compute_type(const at::Tensor& signal, const at::Tensor& ir) {
  const bool single = signal.scalar_type() == at::kFloat && ir.scalar_type() == at::kFloat;
  return single ? at::kFloat : at::kDouble;
}

void check_signal(const at::Tensor& t, const char* what) {
  if (t.dim() != 1) {
    throw ValueError(std::string(what) + " must be 1-D, got " + std::to_string(t.dim()) + " dimensions");
  }
  if (t.is_complex()) throw TypeError(std::string(what) + " must hold real samples");
}

at::Tensor convolved(const at::Tensor& signal, const at::Tensor& ir, int64_t keep) {
  at::Tensor out = at::empty({keep}, at::TensorOptions().dtype(at::kFloat));
  convolve_into(signal, ir, out);
  return out;
}

}  // namespace

int64_t transform_length(int64_t n) {
  int64_t nfft = 1;
  while (nfft < n) nfft <<= 1;
  return nfft;
}

void convolve_into(const at::Tensor& signal, const at::Tensor& ir, at::Tensor& out) {
  check_signal(signal, "signal");
  check_signal(ir, "ir");
  const int64_t n = signal.numel() + ir.numel() - 1;
  if (out.numel() > n) throw ValueError("convolution output longer than the full convolution");
  const int64_t nfft = transform_length(n);
  const at::ScalarType type = compute_type(signal, ir);
  at::NoGradGuard no_grad;
  // rfft pads a copy to nfft samples; the callers' buffers are only read.
  const at::Tensor sig_spec = torch::fft::rfft(signal.to(type), nfft);
  const at::Tensor ir_spec = torch::fft::rfft(ir.to(type), nfft);
  const at::Tensor full = torch::fft::irfft(sig_spec.mul_(ir_spec), nfft);
  out.copy_(full.narrow(0, 0, out.numel()));
}

at::Tensor fft_convolve(const at::Tensor& signal, const at::Tensor& ir) {
  if (signal.numel() == 0 || ir.numel() == 0) return at::empty({0}, at::TensorOptions().dtype(at::kFloat));
  return convolved(signal, ir, signal.numel() + ir.numel() - 1);
}

at::Tensor fft_convolve_truncate(const at::Tensor& signal, const at::Tensor& ir) {
  if (signal.numel() == 0 || ir.numel() == 0) return at::empty({0}, at::TensorOptions().dtype(at::kFloat));
  return convolved(signal, ir, signal.numel());
}

}  // namespace speech::mixsim
