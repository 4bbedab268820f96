#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "triage/stretch_plan.h"

namespace speech::triage {
namespace {

// One wide convolution reaches as a whole stack would: `before` frames back,
// kernel - 1 - before ahead, stepping by `stride`.
FrameReach reach_of(int64_t stride, int64_t before, int64_t after) {
  return FrameReach::of_conv({before + after + 1, stride, before, 1});
}

std::vector<std::vector<int64_t>> fields(const std::vector<Stretch>& plan) {
  std::vector<std::vector<int64_t>> rows;
  for (const Stretch& s : plan) rows.push_back({s.first_frame, s.end_frame, s.keep_first, s.keep_end, s.joined_first});
  return rows;
}

struct PlanCase {
  int64_t frames, stride, before, after, stretch_frames;
  std::vector<Stretch> expected;
};

TEST(TriageStretchPlanTest, SmallPlans) {
  const PlanCase cases[] = {
      // Three kept frames a stretch; margins of two frames on both sides.
      {20, 2, 2, 2, 10, {{0, 7, 0, 3, 0}, {4, 13, 1, 4, 3}, {10, 19, 1, 4, 6}, {16, 20, 1, 2, 9}}},
      // A reach back of one frame still starts each stretch on a stride.
      {20, 2, 1, 2, 9, {{0, 7, 0, 3, 0}, {4, 13, 1, 4, 3}, {10, 19, 1, 4, 6}, {16, 20, 1, 2, 9}}},
      // Fits in one stretch: the whole input.
      {10, 2, 2, 2, 10, {{0, 10, 0, 5, 0}}},
      {1, 8, 112, 112, 1024, {{0, 1, 0, 1, 0}}},
  };
  for (const PlanCase& c : cases) {
    const std::vector<Stretch> plan = plan_stretches(c.frames, reach_of(c.stride, c.before, c.after), c.stretch_frames);
    EXPECT_EQ(fields(plan), fields(c.expected)) << c.frames << " frames, stretches of " << c.stretch_frames;
  }
}

struct Geometry {
  int64_t stride, before, after;
};

// Every output frame kept once, in order, from a stretch that holds its whole
// reach or meets the input's true edge where the reach runs past it.
void expect_exact_cover(int64_t frames, const Geometry& g, int64_t stretch_frames) {
  const FrameReach reach = reach_of(g.stride, g.before, g.after);
  const int64_t outputs = reach.output_frames(frames);
  if (outputs < 1) {  // too short for the stack at all
    EXPECT_THROW(plan_stretches(frames, reach, stretch_frames), std::invalid_argument);
    return;
  }
  const std::vector<Stretch> plan = plan_stretches(frames, reach, stretch_frames);
  ASSERT_FALSE(plan.empty());
  EXPECT_EQ(plan.size() == 1, frames <= stretch_frames);
  EXPECT_EQ(plan.front().first_frame, 0);
  int64_t next = 0;
  for (const Stretch& s : plan) {
    EXPECT_LE(s.frames(), stretch_frames);
    EXPECT_EQ(s.first_frame % g.stride, 0);
    EXPECT_EQ(s.joined_first, next);
    EXPECT_GE(s.kept(), 1);
    EXPECT_EQ(s.joined_first - s.keep_first, s.first_frame / g.stride);
    EXPECT_LE(s.keep_end, reach.output_frames(s.frames()));  // the stretch makes the frames it keeps
    for (int64_t o = s.joined_first; o < s.joined_first + s.kept(); ++o) {
      const int64_t low = g.stride * o - g.before;
      const int64_t high = g.stride * o + g.after;
      EXPECT_TRUE(low >= s.first_frame || s.first_frame == 0) << o;
      EXPECT_TRUE(high < s.end_frame || s.end_frame == frames) << o;
    }
    next += s.kept();
  }
  EXPECT_EQ(next, outputs);
}

TEST(TriageStretchPlanTest, StretchesCoverEveryOutputFrameExactly) {
  const Geometry geometries[] = {{8, 112, 112}, {2, 2, 2}, {2, 1, 2}, {4, 5, 0}, {1, 3, 3}, {8, 3, 117}};
  for (const Geometry& g : geometries) {
    const int64_t margins = g.before + g.after;
    for (const int64_t extra : {0, 1, 7, 8, 9, 63}) {
      const int64_t stretch_frames = margins + g.stride + extra;
      for (int64_t frames = 1; frames < 6 * stretch_frames; frames += 1 + frames / 7) {
        SCOPED_TRACE(::testing::Message() << "stride " << g.stride << ", stretch " << stretch_frames << ", frames "
                                          << frames);
        expect_exact_cover(frames, g, stretch_frames);
      }
    }
  }
}

TEST(TriageStretchPlanTest, DetectorDefaultsOnHalfAnHour) {
  // 30 minutes at 16 kHz with a hop of 256: 112501 spectrogram frames.
  const std::vector<Stretch> plan = plan_stretches(112501, reach_of(8, 112, 112), 1024);
  EXPECT_EQ(plan.size(), 141u);  // 100 output frames a stretch, 14063 in all
  for (const Stretch& s : plan) EXPECT_LE(s.frames(), 1024);
  EXPECT_EQ(plan.back().joined_first + plan.back().kept(), 14063);
}

TEST(TriageStretchPlanTest, RefusedPlans) {
  const FrameReach reach = reach_of(8, 112, 112);
  EXPECT_THROW(plan_stretches(0, reach, 1024), std::invalid_argument);
  EXPECT_THROW(plan_stretches(5000, reach, 224 + 7), std::invalid_argument);  // no room for one kept frame
  EXPECT_EQ(plan_stretches(5000, reach, 224 + 8).size(), 625u);                // one kept frame a stretch
}

}  // namespace
}  // namespace speech::triage
