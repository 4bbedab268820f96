#include "triage/result_over_inputs.h"

#include <optional>

#include "common/errors.h"
#include "common/file_identity.h"
#include "triage/messages.h"

namespace speech::triage {

void refuse_result_over_list(const std::string& out_jsonl, const std::string& scp) {
  if (common::same_existing_file(scp, out_jsonl)) throw common::ValueError(result_is_list_error(out_jsonl, scp));
}

void refuse_result_over_inputs(const std::string& out_jsonl, const RunInputs& inputs) {
  const std::optional<common::FileIdentity> result = common::identity_of(out_jsonl);
  if (!result) return;
  const struct {
    const char* option;
    const char* what;
    std::string (RunInputs::*path)() const;
  } checkpoints[] = {{"detector_ckpt", "多说话人检测模型权重", &RunInputs::detector_ckpt},
                     {"inference", "CSS 分离模型权重", &RunInputs::inference}};
  for (const auto& checkpoint : checkpoints) {
    const std::string path = (inputs.*checkpoint.path)();
    if (common::identity_of(path) == result) {
      throw common::ValueError(result_is_input_error(out_jsonl, std::string("--") + checkpoint.option, checkpoint.what,
                                             std::string(checkpoint.option) + ": " + path));
    }
  }
  for (size_t entry = 0; entry < inputs.entry_count(); ++entry) {
    const std::string path = inputs.wav_path(entry);
    if (common::identity_of(path) == result) {
      throw common::ValueError(result_is_wav_error(out_jsonl, entry + 1, inputs.utt_id(entry), path));
    }
  }
}

}  // namespace speech::triage
