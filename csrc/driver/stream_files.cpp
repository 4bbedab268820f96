#include "driver/stream_files.h"

#include <filesystem>
#include <system_error>

#include "common/abandoned_temporaries.h"
#include "common/errors.h"
#include "driver/output_folder.h"

namespace fs = std::filesystem;

namespace speech::driver {
namespace {

bool has_prefix_and_suffix(const std::string& name, const std::string& prefix, const std::string& suffix) {
  return name.size() >= prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool is_stream_file_name(const std::string& name) {
  static const std::string kSuffix = ".wav";
  return has_prefix_and_suffix(name, "main_speaker_", kSuffix) || has_prefix_and_suffix(name, "other_speaker_", kSuffix);
}

std::vector<std::string> remove_stream_files(const std::string& folder) {
  std::vector<std::string> removed;
  for (common::DirectoryEntry& entry : folder_entries(folder)) {
    // A link itself is a file to remove, whatever it points to.
    const bool file_or_link = entry.is_link || entry.kind == common::EntryKind::kRegularFile;
    if (!file_or_link || !is_stream_file_name(entry.name)) continue;
    const fs::path path = fs::path(folder) / entry.name;
    std::error_code ec;
    fs::remove(path, ec);
    if (ec) throw common::OSError("cannot remove '" + path.string() + "': " + ec.message());
    removed.push_back(std::move(entry.name));
  }
  // Streams that killed runs were writing: no later run may write the same
  // numbers, so only this clean-up can take them.
  common::remove_abandoned_temporaries(
      folder, [](std::string_view name) { return is_stream_file_name(std::string(name)); });
  return removed;
}

std::string stale_streams_removed_line(const std::string& folder, size_t removed_count) {
  return "[警告] 已删除输出目录中旧的说话人音频 " + std::to_string(removed_count) + " 个: " + folder;
}

}  // namespace speech::driver
