#pragma once
// Where a leadvoice run takes its recordings from: a folder of wav files or
// a JSON-lines task list, exactly one of the two.
#include <string>
#include <vector>

namespace speech::driver {

enum class InputMode { kFolder, kTaskList };

// An option counts as given whenever it has a value, the empty text
// included. Throws ValueError unless exactly one is given.
InputMode input_mode(bool has_data_path, bool has_data_jsonl);

// The recordings of folder mode: the folder's entries whose names end in
// ".wav" in any letter case, in code point order, joined to the folder, and
// the line that announces them (or that there are none).
struct FolderRecordings {
  std::vector<std::string> wav_paths;
  std::string line;
};

// `data_path`: file-system bytes. Throws ValueError when it is not a
// folder and OSError when it cannot be listed.
FolderRecordings folder_recordings(const std::string& data_path);

}  // namespace speech::driver
