#include "metrics/sisdr.h"

#include <string>

#include "common/errors.h"

namespace speech::metrics {
namespace {

constexpr int64_t kSampleDim = 2;

at::Tensor remove_mean(const at::Tensor& x, int64_t dim) { return x - x.mean({dim}, /*keepdim=*/true); }

at::Tensor energy(const at::Tensor& x, int64_t dim, bool keepdim) { return at::sum(at::pow(x, 2), {dim}, keepdim); }

// 10 log10(|proj|^2 / (|err|^2 + eps) + eps) over `dim`, which is dropped.
at::Tensor ratio_db(const at::Tensor& proj, const at::Tensor& err, int64_t dim, double eps) {
  const at::Tensor ratio = energy(proj, dim, false) / (energy(err, dim, false) + eps);
  return at::log10(ratio + eps) * 10;
}

// The interpreter's wording for `a, b, c = x.size()`.
void require_three_dims(const at::Tensor& x) {
  const int64_t got = x.dim();
  if (got < 3) throw common::ValueError("not enough values to unpack (expected 3, got " + std::to_string(got) + ")");
  if (got > 3) throw common::ValueError("too many values to unpack (expected 3)");
}

void check_pair_shapes(const at::Tensor& estimation, const at::Tensor& origin) {
  static const char* const kShape = "Estimated and original sources should have same shape.";
  for (int64_t d = 0; d < 3; ++d) {
    if (estimation.size(d) != origin.size(d)) throw common::AssertionError(kShape);
  }
  if (!(estimation.size(1) < estimation.size(2))) {
    throw common::AssertionError("1st dimension should be nsrc and 2nd dimension should be nsample");
  }
}

}  // namespace

at::Tensor calculate_sisdr(const at::Tensor& estimation_in, const at::Tensor& origin_in, double eps) {
  const at::Tensor estimation = remove_mean(estimation_in, kSampleDim);
  const at::Tensor origin = remove_mean(origin_in, kSampleDim);
  const at::Tensor pair_dot = at::sum(estimation * origin, {kSampleDim}, /*keepdim=*/true);
  const at::Tensor origin_energy = energy(origin, kSampleDim, true);
  const at::Tensor pair_proj = (pair_dot / (origin_energy + eps)) * origin;
  const at::Tensor pair_err = estimation - pair_proj;
  return ratio_db(pair_proj, pair_err, kSampleDim, eps);
}

at::Tensor pairwise_sisdr(const at::Tensor& estimation_in, const at::Tensor& origin_in, double eps,
                          bool check_shapes) {
  require_three_dims(estimation_in);
  require_three_dims(origin_in);
  if (check_shapes) check_pair_shapes(estimation_in, origin_in);

  // Means come off before the new axes, on the (batch, nsrc, nsample) tensors.
  const at::Tensor estimation = remove_mean(estimation_in, kSampleDim).unsqueeze(1);  // (B, 1, S, N)
  const at::Tensor origin = remove_mean(origin_in, kSampleDim).unsqueeze(2);          // (B, S, 1, N)
  constexpr int64_t kPairSampleDim = 3;
  const at::Tensor pairwise_dot = at::sum(origin * estimation, {kPairSampleDim}, /*keepdim=*/true);
  const at::Tensor origin_energy = energy(origin, kPairSampleDim, true);
  const at::Tensor pairwise_proj = (pairwise_dot / (origin_energy + eps)) * origin;
  const at::Tensor pairwise_err = estimation - pairwise_proj;
  return ratio_db(pairwise_proj, pairwise_err, kPairSampleDim, eps);
}

}  // namespace speech::metrics
