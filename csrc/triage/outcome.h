#pragma once
// How one scp entry of a run ends, and the counts the run's summary shows.
#include <cstddef>

namespace speech::triage {

enum class Outcome { kSingle, kMulti, kFailed };

struct RunCounts {
  size_t total = 0;  // scp entries, taken once before the loop
  size_t single = 0;
  size_t multi = 0;
  size_t failed = 0;

  // Each handled entry adds to exactly one of the three.
  void add(Outcome outcome);
};

}  // namespace speech::triage
