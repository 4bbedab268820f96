#pragma once
// Every recording's Logger opens --log_file for writing, and the first one
// empties it: a log path that leads to an input of the run (the separation
// checkpoint, the task list, a recording), under any spelling or link, would
// lose that input. Such a run is refused before any log is opened, naming
// the input. Paths are file-system bytes.
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
  std::vector<RecordingInput> recordings;  // in task order
};

// Throws ValueError when `log_file` is the checkpoint, the task list or a
// recording (the first in task order), in that order of asking.
void refuse_log_over_inputs(const std::string& log_file, const LoggedRunInputs& inputs);

}  // namespace speech::driver
