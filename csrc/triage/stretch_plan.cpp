#include "triage/stretch_plan.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace speech::triage {
namespace {

// Output frames one stretch keeps: its length less both reaches, in strides.
int64_t kept_per_stretch(const FrameReach& reach, int64_t stretch_frames) {
  const int64_t margins = std::max<int64_t>(reach.before(), 0) + std::max<int64_t>(reach.after(), 0);
  const int64_t kept = (stretch_frames - margins) / reach.stride();
  if (stretch_frames - margins < reach.stride())
    throw std::invalid_argument("a stretch of " + std::to_string(stretch_frames) +
                                " frames keeps no output frame inside a reach of " + std::to_string(margins + 1) +
                                " frames");
  return kept;
}

// The stretch for the whole run's output frames [first, end).
Stretch stretch_for(int64_t first, int64_t end, int64_t frames, const FrameReach& reach) {
  const int64_t step = reach.stride();
  const int64_t lowest = step * first - std::max<int64_t>(reach.before(), 0);
  const int64_t highest = step * (end - 1) + std::max<int64_t>(reach.after(), 0);
  Stretch stretch;
  stretch.first_frame = lowest <= 0 ? 0 : lowest / step * step;
  stretch.end_frame = std::min(frames, highest + 1);
  const int64_t offset = stretch.first_frame / step;
  stretch.keep_first = first - offset;
  stretch.keep_end = end - offset;
  stretch.joined_first = first;
  return stretch;
}

}  // namespace

std::vector<Stretch> plan_stretches(int64_t frames, const FrameReach& reach, int64_t stretch_frames) {
  if (frames < 1) throw std::invalid_argument("nothing to cut: " + std::to_string(frames) + " frames");
  const int64_t kept = kept_per_stretch(reach, stretch_frames);
  const int64_t outputs = reach.output_frames(frames);
  if (outputs < 1) throw std::invalid_argument(std::to_string(frames) + " frames give no output frame");
  if (frames <= stretch_frames) return {Stretch{0, frames, 0, outputs, 0}};
  std::vector<Stretch> plan;
  for (int64_t first = 0; first < outputs; first += kept)
    plan.push_back(stretch_for(first, std::min(outputs, first + kept), frames, reach));
  return plan;
}

}  // namespace speech::triage
