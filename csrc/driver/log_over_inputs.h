#pragma once
// Every recording's Logger opens --log_file for writing, and the first one
// empties it: a log path that leads to an input of the run (the separation
// checkpoint, the task list, any recording the input names) would lose that
// input, and one that leads to a file the run writes or removes in a
// recording's folder (its mixture, a speaker stream) would lose the log or
// that file. Such a run is refused before any log is opened or folder made,
// naming the other file; "the same file" is the one notion of
// common/output_path.h. Paths are file-system bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace speech::driver {

struct RecordingInput {
  std::string wav_path;
  int64_t line_no = -1;  // its task-list line; -1 in directory mode
};

struct LoggedRunInputs {
  std::string inference;                  // --inference
  std::optional<std::string> data_jsonl;  // in task-list mode
  // Every recording the input names, in its order: in task-list mode the
  // "prompt_wav" of every line, whatever its rate.
  std::vector<RecordingInput> recordings;
  std::string save_dir;  // --save_dir
  // The recordings the run separates, in task order; each writes into its
  // own folder under save_dir.
  std::vector<RecordingInput> tasks;
};

// Throws ValueError when `log_file` is the checkpoint, the task list, a
// recording (the first in input order) or a file of a task's folder (the
// first task's), in that order of asking.
void refuse_log_over_inputs(const std::string& log_file, const LoggedRunInputs& inputs);

}  // namespace speech::driver
