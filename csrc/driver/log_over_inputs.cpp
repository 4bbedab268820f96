#include "driver/log_over_inputs.h"

#include "common/errors.h"
#include "common/file_identity.h"
#include "driver/run_messages.h"

namespace speech::driver {

void refuse_log_over_inputs(const std::string& log_file, const LoggedRunInputs& inputs) {
  const common::SamePath is_log(log_file);
  if (is_log(inputs.inference)) throw common::ValueError(log_is_checkpoint_error(log_file, inputs.inference));
  if (inputs.data_jsonl && is_log(*inputs.data_jsonl)) {
    throw common::ValueError(log_is_task_list_error(log_file, *inputs.data_jsonl));
  }
  for (const RecordingInput& recording : inputs.recordings) {
    if (is_log(recording.wav_path)) {
      throw common::ValueError(log_is_recording_error(log_file, recording.wav_path, recording.line_no));
    }
  }
}

}  // namespace speech::driver
