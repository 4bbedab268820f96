#include "driver/input_mode.h"

#include "common/errors.h"
#include "common/file_kind.h"
#include "common/os_path.h"
#include "driver/output_folder.h"
#include "driver/run_messages.h"

namespace speech::driver {

InputMode input_mode(bool has_data_path, bool has_data_jsonl) {
  if (!has_data_path && !has_data_jsonl) throw common::ValueError(kNeitherInputError);
  if (has_data_path && has_data_jsonl) throw common::ValueError(kBothInputsError);
  return has_data_jsonl ? InputMode::kTaskList : InputMode::kFolder;
}

FolderRecordings folder_recordings(const std::string& data_path) {
  if (!common::is_directory(data_path)) throw common::ValueError(not_a_directory_error(data_path));
  FolderRecordings recordings;
  const std::vector<std::string> names = list_wav_names(data_path);
  if (names.empty()) {
    recordings.line = no_wav_files_message(data_path);
    return recordings;
  }
  recordings.line = directory_mode_line(names.size());
  for (const std::string& name : names) recordings.wav_paths.push_back(common::path_join(data_path, name));
  return recordings;
}

}  // namespace speech::driver
