#include "driver/run_tally.h"

namespace speech::driver {

void RunTally::add(TaskOutcome outcome) {
  ++total;
  switch (outcome) {
    case TaskOutcome::kDone:
      ++done;
      break;
    case TaskOutcome::kNoMainChannel:
      ++no_main_channel;
      break;
    case TaskOutcome::kUnreadable:
      ++unreadable;
      break;
    case TaskOutcome::kNotFinite:
      ++not_finite;
      break;
    case TaskOutcome::kFolderTaken:
      ++folder_taken;
      break;
    case TaskOutcome::kOutputFailed:
      ++output_failed;
      break;
  }
}

}  // namespace speech::driver
