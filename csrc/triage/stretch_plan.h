#pragma once
// How to run a convolution stack over a long input in overlapping stretches
// and still get every output frame exactly as one run over the whole input
// would: each stretch reaches far enough on both sides for the frames it
// keeps, starts on a multiple of the stack's stride so its output frames line
// up with the whole run's, and the first and last stretches sit on the true
// edges so their padding is the whole run's padding.
#include <cstdint>
#include <vector>

#include "triage/frame_reach.h"

namespace speech::triage {

struct Stretch {
  int64_t first_frame = 0;  // input frames [first_frame, end_frame)
  int64_t end_frame = 0;
  int64_t keep_first = 0;  // the stretch's own output frames [keep_first, keep_end) are kept
  int64_t keep_end = 0;
  int64_t joined_first = 0;  // where the kept frames go among the whole run's output frames

  int64_t frames() const { return end_frame - first_frame; }
  int64_t kept() const { return keep_end - keep_first; }
};

// Stretches of at most `stretch_frames` input frames whose kept output frames,
// in order, are the whole run's output frames of `frames` input frames, each
// once. One stretch when the input fits in one. std::invalid_argument when
// `frames` is not positive or a stretch is too short to keep any frame.
std::vector<Stretch> plan_stretches(int64_t frames, const FrameReach& reach, int64_t stretch_frames);

}  // namespace speech::triage
