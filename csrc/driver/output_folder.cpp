#include "driver/output_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/errors.h"
#include "driver/paths.h"

namespace fs = std::filesystem;

namespace speech {

std::vector<std::string> folder_entry_names(const std::string& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw OSError("cannot list '" + folder + "': " + ec.message());
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : it) names.push_back(entry.path().filename().string());
  return names;
}

bool is_directory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

std::vector<std::string> list_wav_names(const std::string& folder) {
  std::vector<std::string> names;
  for (std::string& name : folder_entry_names(folder)) {
    if (has_wav_suffix(name)) names.push_back(std::move(name));
  }
  // Byte order of UTF-8 texts is the code point order.
  std::sort(names.begin(), names.end());
  return names;
}

std::string canonical_folder(const std::string& folder) {
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(folder.empty() ? "." : folder, ec);
  return ec ? folder : resolved.string();
}

}  // namespace speech
