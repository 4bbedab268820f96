#pragma once
// The mean and the spread over time of every row of a feature map, gathered
// a piece of frames at a time in double precision, so that a long map never
// has to be held whole. Pieces merge by the pairwise update of the centred
// sums of squares, which stays as accurate as one pass over the whole map.
#include <ATen/ATen.h>

#include <cstdint>

namespace speech::triage {

class RowStatistics {
 public:
  // `piece` is [rows, frames] of any floating type, with the same rows every
  // time; a piece without frames changes nothing. std::invalid_argument
  // otherwise.
  void add(const at::Tensor& piece);

  int64_t frames() const { return frames_; }
  // [rows], double. std::logic_error before any frame was added.
  at::Tensor mean() const;
  // Bessel-corrected, [rows], double; 0 for a single frame, which has no
  // spread to estimate. std::logic_error before any frame was added.
  at::Tensor sample_variance() const;

 private:
  int64_t frames_ = 0;
  at::Tensor mean_;
  at::Tensor centred_squares_;
};

}  // namespace speech::triage
