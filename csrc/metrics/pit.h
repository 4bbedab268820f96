#pragma once
// Permutation-invariant loss over a pairwise SI-SDR matrix: the exhaustive
// minimum over all nsrc! pairings of references with estimates.
#include <ATen/ATen.h>

#include <cstdint>

namespace speech::metrics {

// All orderings of 0 .. n-1, one per row, in lexicographic order (the order
// of itertools.permutations over range(n): identity first, reversed last).
// CPU, int64, shape (n!, n).
at::Tensor permutation_table(int64_t n);

struct PitResult {
  at::Tensor min_loss;       // (batch,): minus the best mean SI-SDR, differentiable
  at::Tensor batch_indices;  // (batch, nsrc) int64: estimate index for each reference
};

// `pairwise_sisdr` is (batch, nsrc, nsrc) with [b, i, j] the score of
// estimate j against reference i. Ties go to the earliest pairing of the
// table; a NaN in an item makes that item's loss NaN. An empty batch is
// refused, as stacking the rows of no items is.
PitResult pit(const at::Tensor& pairwise_sisdr);

}  // namespace speech::metrics
