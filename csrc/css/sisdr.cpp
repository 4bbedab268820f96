#include "css/sisdr.h"

namespace speech::css {

at::Tensor calculate_scale(const at::Tensor& estimation, const at::Tensor& origin, double eps) {
  const at::Tensor est = estimation - estimation.mean(2, /*keepdim=*/true);
  const at::Tensor org = origin - origin.mean(2, /*keepdim=*/true);
  const at::Tensor pair_dot = (est * org).sum(2, /*keepdim=*/true);
  const at::Tensor estimation_energy = est.pow(2).sum(2, /*keepdim=*/true);
  return pair_dot / (estimation_energy + eps);
}

double calculate_sisdr(const at::Tensor& estimation, const at::Tensor& reference, double eps) {
  const at::Tensor est = estimation - estimation.mean();
  const at::Tensor ref = reference - reference.mean();
  const at::Tensor dot = (est * ref).sum();
  const at::Tensor s_ref_energy = ref.pow(2).sum() + eps;
  const at::Tensor proj = (dot * ref) / s_ref_energy;
  const at::Tensor noise = est - proj;
  const at::Tensor ratio = proj.pow(2).sum() / (noise.pow(2).sum() + eps) + eps;
  const at::Tensor si_sdr = at::log10(ratio) * 10;
  return si_sdr.item<double>();
}

}  // namespace speech::css
