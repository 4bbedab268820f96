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

}  // namespace speech::mixsim
