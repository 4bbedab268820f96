#include "driver/log_over_inputs.h"

#include "common/errors.h"
#include "common/output_path.h"
#include "driver/folder_outputs.h"
#include "driver/paths.h"
#include "driver/run_messages.h"

namespace speech::driver {
namespace {

void refuse_log_over_folders(const std::string& log_file, const common::OutputPath& log, const LoggedRunInputs& inputs) {
  // The shared log stands in for each folder's own.
  const common::OwnedNames owned = [](std::string_view name) {
    return is_folder_output(name, FolderFiles::kMixture);
  };
  if (!log.may_be_owned(owned)) return;
  for (const RecordingInput& task : inputs.tasks) {
    if (const auto output = log.file_in(recording_folder(inputs.save_dir, task.wav_path), owned)) {
      throw common::ValueError(log_is_output_error(log_file, task.wav_path, task.line_no, *output));
    }
  }
}

}  // namespace

void refuse_log_over_inputs(const std::string& log_file, const LoggedRunInputs& inputs) {
  const common::OutputPath log(log_file);
  if (log.is(inputs.inference)) throw common::ValueError(log_is_checkpoint_error(log_file, inputs.inference));
  if (inputs.data_jsonl && log.is(*inputs.data_jsonl)) {
    throw common::ValueError(log_is_task_list_error(log_file, *inputs.data_jsonl));
  }
  for (const RecordingInput& recording : inputs.recordings) {
    if (log.is(recording.wav_path)) {
      throw common::ValueError(log_is_recording_error(log_file, recording.wav_path, recording.line_no));
    }
  }
  refuse_log_over_folders(log_file, log, inputs);
}

}  // namespace speech::driver
