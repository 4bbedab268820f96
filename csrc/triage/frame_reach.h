#pragma once
// Which input frames one output frame of a stack of convolutions depends on,
// along one axis. Output frame o sees input frames
// [stride * o - before, stride * o + after], zero padding counted as frames,
// so a cut that keeps every output frame's whole reach inside real input
// gives those frames exactly as the uncut input would.
#include <cstdint>
#include <vector>

namespace speech::triage {

// One convolution's settings along the axis.
struct ConvAxis {
  int64_t kernel = 1;
  int64_t stride = 1;
  int64_t padding = 0;
  int64_t dilation = 1;
};

class FrameReach {
 public:
  // The identity: a per-frame layer (normalisation, activation) or an empty
  // shortcut.
  FrameReach() = default;
  static FrameReach of_conv(const ConvAxis& conv);

  // This stack followed by `next`.
  FrameReach then(const FrameReach& next) const;
  // A residual block: this main path summed with `shortcut`. Both must step
  // by the same stride, as the sum needs; std::invalid_argument otherwise.
  FrameReach beside(const FrameReach& shortcut) const;

  int64_t stride() const { return stride_; }
  int64_t before() const { return before_; }
  int64_t after() const { return after_; }
  // Output frames for `input_frames` input frames, as the main path's
  // convolutions count them; 0 where the input is too short for them.
  int64_t output_frames(int64_t input_frames) const;

 private:
  int64_t stride_ = 1;
  int64_t before_ = 0;
  int64_t after_ = 0;
  std::vector<ConvAxis> path_;  // the convolutions that fix the output length
};

}  // namespace speech::triage
