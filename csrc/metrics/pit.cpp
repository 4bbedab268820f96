#include "metrics/pit.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace speech::metrics {
namespace {

// The matrix's own floating dtype: a float64 or float16 matrix is contracted
// in its precision rather than against a one-hot of the process default,
// which the contraction would refuse. Other dtypes keep the default.
at::ScalarType one_hot_dtype(const at::Tensor& matrix) {
  if (at::isFloatingType(matrix.scalar_type())) return matrix.scalar_type();
  return at::typeMetaToScalarType(at::get_default_dtype());
}

// (P, n, n) with [p, i, perms[p, i]] = 1: the permutation matrix of each row.
at::Tensor one_hot(const at::Tensor& perms, int64_t n, at::ScalarType dtype) {
  std::vector<int64_t> shape(perms.sizes().begin(), perms.sizes().end());
  shape.push_back(n);
  at::Tensor out = at::zeros(shape, perms.options().dtype(dtype));
  return out.scatter_(2, perms.unsqueeze(2), 1);
}

// The rows of `perms` picked by `picks`. Taking rows one by one and stacking
// them has no answer for an empty batch; the library's stack says so.
at::Tensor rows_of(const at::Tensor& perms, const at::Tensor& picks) {
  if (picks.numel() == 0) return at::stack(std::vector<at::Tensor>{}, 0);
  return perms.index_select(0, picks);
}

}  // namespace

at::Tensor permutation_table(int64_t n) {
  std::vector<int64_t> order(static_cast<size_t>(std::max<int64_t>(n, 0)));
  std::iota(order.begin(), order.end(), int64_t{0});
  std::vector<int64_t> flat;
  int64_t rows = 0;
  do {
    flat.insert(flat.end(), order.begin(), order.end());
    ++rows;
  } while (std::next_permutation(order.begin(), order.end()));
  at::Tensor table = at::empty({rows, static_cast<int64_t>(order.size())}, at::kLong);
  std::copy(flat.begin(), flat.end(), table.data_ptr<int64_t>());
  return table;
}

PitResult pit(const at::Tensor& pairwise_sisdr) {
  const int64_t nsrc = pairwise_sisdr.size(-1);
  const at::Tensor pairwise_neg_sisdr = -pairwise_sisdr;
  const at::Tensor perms = permutation_table(nsrc).to(pairwise_sisdr.device());
  const at::Tensor perms_one_hot = one_hot(perms, nsrc, one_hot_dtype(pairwise_sisdr));
  const at::Tensor loss_set = at::einsum("bij,pij->bp", {pairwise_neg_sisdr, perms_one_hot}) / nsrc;
  const auto [min_loss, min_loss_idx] = loss_set.min(1);
  return {min_loss, rows_of(perms, min_loss_idx)};
}

}  // namespace speech::metrics
