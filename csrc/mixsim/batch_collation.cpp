#include "mixsim/batch_collation.h"

#include <algorithm>
#include <stdexcept>

namespace speech::mixsim {

at::Tensor pad_rows(const std::vector<at::Tensor>& rows) {
  if (rows.empty()) throw std::invalid_argument("pad_rows: no rows");
  int64_t longest = 0;
  for (const at::Tensor& row : rows) longest = std::max(longest, row.size(0));
  // Trailing dimensions are the first row's; only dimension 0 is padded.
  std::vector<int64_t> sizes{static_cast<int64_t>(rows.size()), longest};
  const auto trailing = rows.front().sizes().slice(1);
  sizes.insert(sizes.end(), trailing.begin(), trailing.end());
  at::Tensor out = at::zeros(sizes, rows.front().options());
  for (size_t b = 0; b < rows.size(); ++b) {
    const int64_t n = rows[b].size(0);
    if (n > 0) out.select(0, static_cast<int64_t>(b)).narrow(0, 0, n).copy_(rows[b]);
  }
  return out;
}

at::Tensor row_lengths(const std::vector<at::Tensor>& rows) {
  at::Tensor lengths = at::empty({static_cast<int64_t>(rows.size())}, at::kLong);
  int64_t* out = lengths.data_ptr<int64_t>();
  for (size_t b = 0; b < rows.size(); ++b) out[b] = rows[b].numel();
  return lengths;
}

at::Tensor stack_slots(const std::vector<at::Tensor>& slots) { return at::stack(slots, 1); }

namespace {

int64_t longest_row(const std::vector<at::Tensor>& rows) {
  int64_t longest = 0;
  for (const at::Tensor& row : rows) longest = std::max(longest, row.size(0));
  return longest;
}

bool same_layout(const std::vector<std::vector<at::Tensor>>& slots, int64_t length) {
  for (const std::vector<at::Tensor>& rows : slots) {
    if (rows.size() != slots.front().size() || longest_row(rows) != length) return false;
    for (const at::Tensor& row : rows) {
      if (row.dim() != 1 || row.scalar_type() != slots.front().front().scalar_type()) return false;
    }
  }
  return true;
}

}  // namespace

at::Tensor pad_and_stack_slots(const std::vector<std::vector<at::Tensor>>& slots) {
  if (slots.empty() || slots.front().empty()) throw std::invalid_argument("pad_and_stack_slots: no rows");
  const int64_t length = longest_row(slots.front());
  if (!same_layout(slots, length)) {
    std::vector<at::Tensor> padded;
    for (const std::vector<at::Tensor>& rows : slots) padded.push_back(pad_rows(rows));
    return stack_slots(padded);
  }
  const auto batch = static_cast<int64_t>(slots.front().size());
  const auto count = static_cast<int64_t>(slots.size());
  at::Tensor out = at::empty({batch, count, length}, slots.front().front().options());
  for (int64_t s = 0; s < count; ++s) {
    for (int64_t b = 0; b < batch; ++b) {
      const at::Tensor& row = slots[static_cast<size_t>(s)][static_cast<size_t>(b)];
      at::Tensor dest = out.select(0, b).select(0, s);
      const int64_t n = row.size(0);
      if (n > 0) dest.narrow(0, 0, n).copy_(row);
      if (n < length) dest.narrow(0, n, length - n).zero_();
    }
  }
  return out;
}

int64_t slot_count(const std::vector<int64_t>& speaker_counts) {
  int64_t slots = 0;
  for (const int64_t n : speaker_counts) slots = std::max(slots, n);
  return slots;
}

CollatedSignals collate_signals(const std::vector<RecordSignals>& records, int64_t slots) {
  std::vector<std::vector<at::Tensor>> slot_signals;
  std::vector<at::Tensor> slot_lengths;
  for (int64_t t = 0; t < slots; ++t) {
    std::vector<at::Tensor> rows;
    for (const RecordSignals& record : records) {
      if (t >= static_cast<int64_t>(record.sources.size())) {
        rows.push_back(at::zeros({1}, at::kFloat));
        continue;
      }
      const at::Tensor& source = record.sources[static_cast<size_t>(t)];
      rows.push_back(source.dim() > 1 ? source.reshape({-1}) : source);
    }
    slot_lengths.push_back(row_lengths(rows));
    slot_signals.push_back(std::move(rows));
  }
  std::vector<at::Tensor> mixtures;
  for (const RecordSignals& record : records) mixtures.push_back(record.mixture);
  at::Tensor mixture = pad_rows(mixtures);
  if (mixture.dim() == 2) mixture = mixture.unsqueeze(1);
  return {pad_and_stack_slots(slot_signals), stack_slots(slot_lengths), mixture, row_lengths(mixtures)};
}

}  // namespace speech::mixsim
