#include "triage/frame_reach.h"

#include <algorithm>
#include <stdexcept>

namespace speech::triage {

FrameReach FrameReach::of_conv(const ConvAxis& conv) {
  if (conv.kernel < 1 || conv.stride < 1 || conv.dilation < 1 || conv.padding < 0)
    throw std::invalid_argument("a convolution needs a positive kernel, stride and dilation and no negative padding");
  FrameReach reach;
  reach.stride_ = conv.stride;
  reach.before_ = conv.padding;
  reach.after_ = conv.dilation * (conv.kernel - 1) - conv.padding;
  reach.path_.push_back(conv);
  return reach;
}

FrameReach FrameReach::then(const FrameReach& next) const {
  // next's output o sees our outputs [next.stride*o - next.before, ...], each
  // of which sees our input from stride*(that) - before.
  FrameReach joined;
  joined.stride_ = stride_ * next.stride_;
  joined.before_ = stride_ * next.before_ + before_;
  joined.after_ = stride_ * next.after_ + after_;
  joined.path_ = path_;
  joined.path_.insert(joined.path_.end(), next.path_.begin(), next.path_.end());
  return joined;
}

FrameReach FrameReach::beside(const FrameReach& shortcut) const {
  if (shortcut.stride_ != stride_)
    throw std::invalid_argument("a residual block's two paths must step by the same stride");
  FrameReach joined = *this;
  joined.before_ = std::max(before_, shortcut.before_);
  joined.after_ = std::max(after_, shortcut.after_);
  return joined;
}

int64_t FrameReach::output_frames(int64_t input_frames) const {
  int64_t frames = input_frames;
  for (const ConvAxis& conv : path_) {
    const int64_t span = frames + 2 * conv.padding - conv.dilation * (conv.kernel - 1) - 1;
    if (span < 0) return 0;
    frames = span / conv.stride + 1;
  }
  return std::max<int64_t>(frames, 0);
}

}  // namespace speech::triage
