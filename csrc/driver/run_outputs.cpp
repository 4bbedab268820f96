#include "driver/run_outputs.h"

#include "common/errors.h"
#include "common/output_path.h"
#include "driver/folder_outputs.h"
#include "driver/paths.h"
#include "driver/run_messages.h"

namespace speech::driver {
namespace {

common::OwnedNames folder_files(bool shared_log) {
  const FolderFiles files = shared_log ? FolderFiles::kMixture : FolderFiles::kMixtureAndLog;
  return [files](std::string_view name) { return is_folder_output(name, files); };
}

void refuse_log_over_folders(const std::string& log_file, const common::OutputPath& log, const RunFiles& files) {
  const common::OwnedNames owned = folder_files(true);
  if (!log.may_be_owned(owned)) return;
  for (const RecordingInput& task : files.tasks) {
    if (const auto output = log.file_in(recording_folder(files.save_dir, task.wav_path), owned)) {
      throw common::ValueError(log_is_output_error(log_file, task.wav_path, task.line_no, *output));
    }
  }
}

}  // namespace

void refuse_folders_over_recordings(const RunFiles& files, bool shared_log) {
  std::vector<std::string> folders;
  folders.reserve(files.tasks.size());
  for (const RecordingInput& task : files.tasks) folders.push_back(recording_folder(files.save_dir, task.wav_path));
  const common::OutputFolders outputs(std::move(folders), folder_files(shared_log));
  for (const RecordingInput& recording : files.recordings) {
    if (const auto holder = outputs.holder_of(recording.wav_path)) {
      const RecordingInput& task = files.tasks[holder->folder];
      throw common::ValueError(
          recording_is_output_error(recording.wav_path, recording.line_no, task.wav_path, task.line_no, holder->path));
    }
  }
}

void refuse_log_over_inputs(const std::string& log_file, const RunFiles& files) {
  const common::OutputPath log(log_file);
  if (log.is(files.inference)) throw common::ValueError(log_is_checkpoint_error(log_file, files.inference));
  if (files.data_jsonl && log.is(*files.data_jsonl)) {
    throw common::ValueError(log_is_task_list_error(log_file, *files.data_jsonl));
  }
  for (const RecordingInput& recording : files.recordings) {
    if (log.is(recording.wav_path)) {
      throw common::ValueError(log_is_recording_error(log_file, recording.wav_path, recording.line_no));
    }
  }
  refuse_log_over_folders(log_file, log, files);
}

}  // namespace speech::driver
