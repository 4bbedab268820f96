#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "triage/frame_reach.h"

namespace speech::triage {
namespace {

struct ConvCase {
  ConvAxis conv;
  int64_t stride, before, after;
  int64_t input, output;
};

TEST(TriageFrameReachTest, OneConvolution) {
  const ConvCase cases[] = {
      {{3, 1, 1, 1}, 1, 1, 1, 10, 10},  // same-size 3-tap
      {{3, 2, 1, 1}, 2, 1, 1, 10, 5},   // halving: ceil(n / 2)
      {{3, 2, 1, 1}, 2, 1, 1, 11, 6},
      {{1, 2, 0, 1}, 2, 0, 0, 11, 6},   // projecting shortcut
      {{5, 1, 0, 1}, 1, 0, 4, 10, 6},   // unpadded: all reach lies ahead
      {{3, 1, 2, 2}, 1, 2, 2, 10, 10},  // dilated
      {{3, 1, 0, 1}, 1, 0, 2, 2, 0},    // input shorter than the kernel
  };
  for (const ConvCase& c : cases) {
    const FrameReach reach = FrameReach::of_conv(c.conv);
    EXPECT_EQ(reach.stride(), c.stride) << c.conv.kernel;
    EXPECT_EQ(reach.before(), c.before) << c.conv.kernel;
    EXPECT_EQ(reach.after(), c.after) << c.conv.kernel;
    EXPECT_EQ(reach.output_frames(c.input), c.output) << c.conv.kernel << " " << c.input;
  }
}

TEST(TriageFrameReachTest, BadConvolutionsAreRefused) {
  for (const ConvAxis conv : {ConvAxis{0, 1, 0, 1}, ConvAxis{3, 0, 1, 1}, ConvAxis{3, 1, -1, 1}, ConvAxis{3, 1, 1, 0}})
    EXPECT_THROW(FrameReach::of_conv(conv), std::invalid_argument);
}

TEST(TriageFrameReachTest, StackedConvolutionsReachThroughTheStride) {
  const FrameReach tap3 = FrameReach::of_conv({3, 1, 1, 1});
  const FrameReach halve = FrameReach::of_conv({3, 2, 1, 1});
  // After a halving, each further tap reaches two input frames.
  const FrameReach stack = halve.then(tap3);
  EXPECT_EQ(stack.stride(), 2);
  EXPECT_EQ(stack.before(), 3);
  EXPECT_EQ(stack.after(), 3);
  // Before it, a tap reaches one.
  const FrameReach other = tap3.then(halve);
  EXPECT_EQ(other.before(), 2);
  EXPECT_EQ(other.after(), 2);
  EXPECT_EQ(FrameReach().then(tap3).before(), 1);  // the identity adds nothing
}

TEST(TriageFrameReachTest, ResidualBlockTakesTheWiderPath) {
  const FrameReach main = FrameReach::of_conv({3, 2, 1, 1}).then(FrameReach::of_conv({3, 1, 1, 1}));
  const FrameReach block = main.beside(FrameReach::of_conv({1, 2, 0, 1}));
  EXPECT_EQ(block.stride(), 2);
  EXPECT_EQ(block.before(), 3);
  EXPECT_EQ(block.after(), 3);
  EXPECT_EQ(block.output_frames(9), 5);
  const FrameReach plain = FrameReach::of_conv({3, 1, 1, 1}).beside(FrameReach());
  EXPECT_EQ(plain.before(), 1);
  EXPECT_THROW(main.beside(FrameReach()), std::invalid_argument);
}

// The detector's trunk: a 3-tap stem and stages of 3, 4, 6, 3 two-conv
// blocks, the first block of stages 2 to 4 halving with a projection.
FrameReach resnet_trunk(const std::vector<int>& blocks) {
  const FrameReach tap3 = FrameReach::of_conv({3, 1, 1, 1});
  FrameReach trunk = tap3;
  for (size_t stage = 0; stage < blocks.size(); ++stage) {
    for (int b = 0; b < blocks[stage]; ++b) {
      const bool halves = stage > 0 && b == 0;
      const FrameReach first = FrameReach::of_conv({3, halves ? 2 : 1, 1, 1});
      const FrameReach shortcut = halves ? FrameReach::of_conv({1, 2, 0, 1}) : FrameReach();
      trunk = trunk.then(first.then(tap3).beside(shortcut));
    }
  }
  return trunk;
}

TEST(TriageFrameReachTest, DetectorTrunkSeesTwoHundredTwentyFiveFrames) {
  const FrameReach trunk = resnet_trunk({3, 4, 6, 3});
  EXPECT_EQ(trunk.stride(), 8);
  EXPECT_EQ(trunk.before(), 112);
  EXPECT_EQ(trunk.after(), 112);
  for (const int64_t frames : {1, 7, 8, 9, 100, 1025, 112501})
    EXPECT_EQ(trunk.output_frames(frames), (frames + 7) / 8) << frames;
  // Stem, then per stage: the halving tap at the old spacing, the rest at the new.
  EXPECT_EQ(resnet_trunk({2, 2, 2, 2}).before(), 1 + 4 + (1 + 2 * 3) + (2 + 4 * 3) + (4 + 8 * 3));
}

}  // namespace
}  // namespace speech::triage
