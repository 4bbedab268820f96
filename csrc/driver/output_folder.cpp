#include "driver/output_folder.h"

#include <filesystem>
#include <system_error>

#include "common/errors.h"
#include "driver/paths.h"

namespace fs = std::filesystem;

namespace speech::driver {

std::vector<common::DirectoryEntry> folder_entries(const std::string& folder) {
  try {
    return common::list_directory(folder);
  } catch (const common::SystemCallError& e) {
    throw common::OSError("cannot list '" + folder + "': " + e.what());
  }
}

std::vector<std::string> list_wav_names(const std::string& folder) {
  std::vector<std::string> names;
  for (common::DirectoryEntry& entry : folder_entries(folder)) {
    if (has_wav_suffix(entry.name)) names.push_back(std::move(entry.name));
  }
  return names;
}

std::string canonical_folder(const std::string& folder) {
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(folder.empty() ? "." : folder, ec);
  return ec ? folder : resolved.string();
}

}  // namespace speech::driver
