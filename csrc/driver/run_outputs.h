#pragma once
// A leadvoice run's outputs against its inputs and each other. Each
// recording writes "mix.wav" and its speaker streams into its own folder and
// clears the streams an earlier run left there, and every recording's
// Logger opens --log_file for writing, the first one emptying it. So a run
// is refused before any log is opened or folder made, naming both files,
// when a recording the input names is a file of a task's folder, or when
// --log_file is an input (the separation checkpoint, the task list, any
// recording the input names) or a file of a task's folder. "The same file"
// is the one notion of common/output_path.h. Paths are file-system bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace speech::driver {

struct RecordingInput {
  std::string wav_path;
  int64_t line_no = -1;  // its task-list line; -1 in directory mode
};

struct RunFiles {
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

// Throws ValueError when a recording (the first in input order) is a file
// that a task writes or removes in its folder: "mix.wav", a speaker stream,
// a temporary of one, and "log.txt" unless `shared_log`.
void refuse_folders_over_recordings(const RunFiles& files, bool shared_log);

// Throws ValueError when `log_file` is the checkpoint, the task list, a
// recording (the first in input order) or a file of a task's folder (the
// first task's), in that order of asking.
void refuse_log_over_inputs(const std::string& log_file, const RunFiles& files);

}  // namespace speech::driver
