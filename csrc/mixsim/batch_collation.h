#pragma once
// Collation of a batch's signals: 1-D tensors of possibly different lengths
// become one zero-padded [B, T] tensor (T the longest), in the dtype of the
// first, and the slots of a batch are stacked into [B, S, T].
#include <ATen/ATen.h>

#include <cstdint>
#include <vector>

namespace speech::mixsim {

// rows[b] copied into row b, zero-padded at the end of dimension 0; rows of
// more dimensions keep their trailing ones. rows must not be empty.
at::Tensor pad_rows(const std::vector<at::Tensor>& rows);

// Element counts of the rows, as one int64 tensor [B].
at::Tensor row_lengths(const std::vector<at::Tensor>& rows);

// The slots' [B, T] tensors stacked on dimension 1: [B, S, T]. Every slot
// must have the same padded length.
at::Tensor stack_slots(const std::vector<at::Tensor>& slots);

// slots[s][b] (1-D) padded and stacked into [B, S, T] in one step, as
// stack_slots of each slot's pad_rows gives it, without the per-slot
// tensors. Slots whose padded lengths differ fail as stack_slots fails.
at::Tensor pad_and_stack_slots(const std::vector<std::vector<at::Tensor>>& slots);

// The signals of one mixture sample record.
struct RecordSignals {
  std::vector<at::Tensor> sources;  // its first sources, up to the slot count
  at::Tensor mixture;
};

struct CollatedSignals {
  at::Tensor sources;      // [B, S, T]
  at::Tensor sources_len;  // [B, S], int64
  at::Tensor mixture;      // [B, 1, T]
  at::Tensor mixture_len;  // [B], int64
};

// The batch's slot count: its largest speaker count.
int64_t slot_count(const std::vector<int64_t>& speaker_counts);

// Slot t of each record holds its source t, flattened, or one zero sample
// (length 1) when it has none; every slot and the mixtures are zero-padded
// to their longest signal. records must not be empty.
CollatedSignals collate_signals(const std::vector<RecordSignals>& records, int64_t slots);

}  // namespace speech::mixsim
