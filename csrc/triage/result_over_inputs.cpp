#include "triage/result_over_inputs.h"

#include <sys/stat.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>

#include "common/directory_listing.h"
#include "common/errors.h"
#include "common/file_identity.h"
#include "common/file_kind.h"
#include "common/lexical_path.h"
#include "common/os_path.h"
#include "driver/paths.h"
#include "driver/stream_files.h"
#include "triage/messages.h"
#include "triage/utterance_folder.h"

namespace speech::triage {
namespace {

// The files of an utterance folder that the run writes or removes.
bool is_folder_output(std::string_view name) {
  return name == driver::kFolderLogName || driver::is_stream_file_name(std::string(name));
}

// An output file of entry `entry`'s folder, found at `path`.
struct FolderOutput {
  size_t entry = 0;
  std::string path;
};

// The first listed entry whose folder (save_dir joined with its id) `holds`
// the output; an id that leads out of the save folder gets no folder at all.
template <typename Holds>
std::optional<FolderOutput> first_holder(const std::string& save_dir, const RunInputs& inputs, Holds&& holds) {
  for (size_t entry = 0; entry < inputs.entry_count(); ++entry) {
    const std::string id = inputs.utt_id(entry);
    if (!unsafe_utt_id_reason(id, std::numeric_limits<size_t>::max()).empty()) continue;
    if (std::optional<std::string> path = holds(common::path_join(save_dir, id))) {
      return FolderOutput{entry, std::move(*path)};
    }
  }
  return std::nullopt;
}

// The result path spelled out: normalised against the working directory.
std::optional<FolderOutput> by_text(const std::string& out_jsonl, const std::string& save_dir,
                                    const RunInputs& inputs) {
  common::WorkingDirectory cwd;
  const std::string result = common::absolute_path(out_jsonl, cwd);
  const std::string_view name = common::path_basename(result);
  if (!is_folder_output(name)) return std::nullopt;
  const std::string_view folder = common::path_dirname(result);
  return first_holder(save_dir, inputs, [&](const std::string& utt_folder) -> std::optional<std::string> {
    if (common::absolute_path(utt_folder, cwd) != folder) return std::nullopt;
    return common::path_join(utt_folder, name);
  });
}

// Where the result path leads: through its own links to the file they
// reach, or the path itself.
std::string followed(const std::string& out_jsonl) {
  struct stat st {};
  if (::lstat(out_jsonl.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return out_jsonl;
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(out_jsonl.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : out_jsonl;
}

// The result's folder is an utterance folder under another spelling.
std::optional<FolderOutput> by_folder(const std::string& out_jsonl, const std::string& save_dir,
                                      const RunInputs& inputs) {
  const std::string result = followed(out_jsonl);
  const std::string_view name = common::path_basename(result);
  if (!is_folder_output(name)) return std::nullopt;
  const std::string_view parent = common::path_dirname(result);
  const std::optional<common::FileIdentity> folder = common::identity_of(parent.empty() ? "." : std::string(parent));
  if (!folder) return std::nullopt;
  return first_holder(save_dir, inputs, [&](const std::string& utt_folder) -> std::optional<std::string> {
    if (!(common::identity_of(utt_folder) == folder)) return std::nullopt;
    return common::path_join(utt_folder, name);
  });
}

// The result file is a hard link of an output file under any name.
std::optional<FolderOutput> by_hard_link(const std::string& out_jsonl, const std::string& save_dir,
                                         const RunInputs& inputs) {
  struct stat st {};
  if (!common::stat_path(out_jsonl, st) || !S_ISREG(st.st_mode) || st.st_nlink < 2) return std::nullopt;
  const common::FileIdentity result{st.st_dev, st.st_ino};
  return first_holder(save_dir, inputs, [&](const std::string& utt_folder) -> std::optional<std::string> {
    if (!common::is_directory(utt_folder)) return std::nullopt;
    std::vector<common::DirectoryEntry> entries;
    try {
      entries = common::list_directory(utt_folder);
    } catch (const common::SystemCallError&) {
      return std::nullopt;  // the run meets that folder's fault on its own entry
    }
    for (const common::DirectoryEntry& entry : entries) {
      const std::string path = common::path_join(utt_folder, entry.name);
      if (is_folder_output(entry.name) && common::identity_of(path) == result) return path;
    }
    return std::nullopt;
  });
}

}  // namespace

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

void refuse_result_over_outputs(const std::string& out_jsonl, const std::string& save_dir, const RunInputs& inputs) {
  for (const auto find : {&by_text, &by_folder, &by_hard_link}) {
    if (const std::optional<FolderOutput> output = find(out_jsonl, save_dir, inputs)) {
      throw common::ValueError(
          result_is_output_error(out_jsonl, output->entry + 1, inputs.utt_id(output->entry), output->path));
    }
  }
}

}  // namespace speech::triage
