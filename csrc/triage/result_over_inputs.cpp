#include "triage/result_over_inputs.h"

#include <limits>
#include <optional>
#include <string_view>
#include <vector>

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

namespace {

bool is_utterance_output(std::string_view name) { return driver::is_folder_output(name, driver::FolderFiles::kLog); }

// An id that leads out of the save folder gets no folder at all.
bool has_folder(const std::string& id) {
  return unsafe_utt_id_reason(id, std::numeric_limits<size_t>::max()).empty();
}

}  // namespace

void refuse_result_over_outputs(const std::string& out_jsonl, const std::string& save_dir, const RunInputs& inputs) {
  const common::OutputPath result(out_jsonl);
  if (!result.may_be_owned(is_utterance_output)) return;
  for (size_t entry = 0; entry < inputs.entry_count(); ++entry) {
    const std::string id = inputs.utt_id(entry);
    if (!has_folder(id)) continue;
    if (const std::optional<std::string> output = result.file_in(common::path_join(save_dir, id), is_utterance_output)) {
      throw common::ValueError(result_is_output_error(out_jsonl, entry + 1, id, *output));
    }
  }
}

void refuse_folders_over_wavs(const std::string& save_dir, const RunInputs& inputs) {
  std::vector<std::string> folders;
  std::vector<size_t> entries;  // the entry of each folder
  for (size_t entry = 0; entry < inputs.entry_count(); ++entry) {
    const std::string id = inputs.utt_id(entry);
    if (!has_folder(id)) continue;
    folders.push_back(common::path_join(save_dir, id));
    entries.push_back(entry);
  }
  const common::OutputFolders outputs(std::move(folders), is_utterance_output);
  for (size_t entry = 0; entry < inputs.entry_count(); ++entry) {
    const std::string wav = inputs.wav_path(entry);
    if (const auto holder = outputs.holder_of(wav)) {
      const size_t owner = entries[holder->folder];
      throw common::ValueError(
          wav_is_output_error(entry + 1, inputs.utt_id(entry), wav, owner + 1, inputs.utt_id(owner), holder->path));
    }
  }
}

}  // namespace speech::triage
