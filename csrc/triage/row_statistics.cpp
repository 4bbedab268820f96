#include "triage/row_statistics.h"

#include <stdexcept>
#include <string>

namespace speech::triage {

void RowStatistics::add(const at::Tensor& piece) {
  if (piece.dim() != 2 || !piece.is_floating_point())
    throw std::invalid_argument("a piece of a feature map is a floating [rows, frames] tensor");
  if (frames_ > 0 && piece.size(0) != mean_.size(0))
    throw std::invalid_argument("a piece of " + std::to_string(piece.size(0)) + " rows after pieces of " +
                                std::to_string(mean_.size(0)));
  const int64_t count = piece.size(1);
  if (count == 0) return;
  const at::Tensor values = piece.to(at::kDouble);
  const at::Tensor piece_mean = values.mean(1);
  const at::Tensor piece_squares = (values - piece_mean.unsqueeze(1)).square().sum(1);
  if (frames_ == 0) {
    mean_ = piece_mean;
    centred_squares_ = piece_squares;
    frames_ = count;
    return;
  }
  const double total = static_cast<double>(frames_ + count);
  const at::Tensor delta = piece_mean - mean_;
  mean_ = mean_ + delta * (static_cast<double>(count) / total);
  centred_squares_ = centred_squares_ + piece_squares +
                     delta.square() * (static_cast<double>(frames_) * static_cast<double>(count) / total);
  frames_ += count;
}

at::Tensor RowStatistics::mean() const {
  if (frames_ == 0) throw std::logic_error("no frames gathered");
  return mean_;
}

at::Tensor RowStatistics::sample_variance() const {
  if (frames_ == 0) throw std::logic_error("no frames gathered");
  if (frames_ == 1) return at::zeros_like(centred_squares_);
  return centred_squares_ / static_cast<double>(frames_ - 1);
}

}  // namespace speech::triage
