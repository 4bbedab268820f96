#pragma once
// How each task of a leadvoice run ended, and the counts of the run's
// closing line.
#include <cstddef>

namespace speech::driver {

// kNoMainChannel: separated and its mixture saved, but no stream was chosen
// as the main speaker's (a silent recording, a network that gives nothing
// usable), so it has no main_speaker_*.wav. kOutputFailed: its folder could
// not be made, its log not opened, or one of its files not written (a full
// disk, a file in a folder's place, a read-only file system).
enum class TaskOutcome { kDone, kNoMainChannel, kUnreadable, kNotFinite, kFolderTaken, kOutputFailed };

struct RunTally {
  size_t total = 0;
  size_t done = 0;
  size_t no_main_channel = 0;
  size_t unreadable = 0;
  size_t not_finite = 0;
  size_t folder_taken = 0;
  size_t output_failed = 0;
  void add(TaskOutcome outcome);
};

}  // namespace speech::driver
