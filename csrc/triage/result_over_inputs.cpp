#include "triage/result_over_inputs.h"

#include <limits>
#include <optional>

#include "common/errors.h"
#include "common/os_path.h"
#include "common/output_path.h"
#include "driver/folder_outputs.h"
#include "triage/messages.h"
#include "triage/utterance_folder.h"

namespace speech::triage {

void refuse_result_over_list(const std::string& out_jsonl, const std::string& scp) {
  if (common::OutputPath(out_jsonl).is(scp)) throw common::ValueError(result_is_list_error(out_jsonl, scp));
}

void refuse_result_over_inputs(const std::string& out_jsonl, const RunInputs& inputs) {
  const common::OutputPath result(out_jsonl);
  const struct {
    const char* option;
    const char* what;
    std::string (RunInputs::*path)() const;
  } checkpoints[] = {{"detector_ckpt", "多说话人检测模型权重", &RunInputs::detector_ckpt},
                     {"inference", "CSS 分离模型权重", &RunInputs::inference}};
  for (const auto& checkpoint : checkpoints) {
    const std::string path = (inputs.*checkpoint.path)();
    if (result.is(path)) {
      throw common::ValueError(result_is_input_error(out_jsonl, std::string("--") + checkpoint.option, checkpoint.what,
                                                     std::string(checkpoint.option) + ": " + path));
    }
  }
  for (size_t entry = 0; entry < inputs.entry_count(); ++entry) {
    const std::string path = inputs.wav_path(entry);
    if (result.is(path)) throw common::ValueError(result_is_wav_error(out_jsonl, entry + 1, inputs.utt_id(entry), path));
  }
}

void refuse_result_over_outputs(const std::string& out_jsonl, const std::string& save_dir, const RunInputs& inputs) {
  const common::OutputPath result(out_jsonl);
  const common::OwnedNames owned = [](std::string_view name) {
    return driver::is_folder_output(name, driver::FolderFiles::kLog);
  };
  if (!result.may_be_owned(owned)) return;
  for (size_t entry = 0; entry < inputs.entry_count(); ++entry) {
    const std::string id = inputs.utt_id(entry);
    // An id that leads out of the save folder gets no folder at all.
    if (!unsafe_utt_id_reason(id, std::numeric_limits<size_t>::max()).empty()) continue;
    if (const std::optional<std::string> output = result.file_in(common::path_join(save_dir, id), owned)) {
      throw common::ValueError(result_is_output_error(out_jsonl, entry + 1, id, *output));
    }
  }
}

}  // namespace speech::triage
