#pragma once
// How each task of a leadvoice run ended, and the counts of the run's
// closing line.
#include <cstddef>

namespace speech::driver {

enum class TaskOutcome { kDone, kUnreadable, kNotFinite, kFolderTaken };

struct RunTally {
  size_t total = 0;
  size_t done = 0;
  size_t unreadable = 0;
  size_t not_finite = 0;
  size_t folder_taken = 0;
  void add(TaskOutcome outcome);
};

}  // namespace speech::driver
