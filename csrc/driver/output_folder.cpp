#include "driver/output_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/errors.h"
#include "driver/paths.h"

namespace fs = std::filesystem;

namespace speech {
namespace {

bool is_main_speaker_name(const std::string& name) {
  static const std::string kPrefix = "main_speaker_";
  static const std::string kSuffix = ".wav";
  return name.size() >= kPrefix.size() + kSuffix.size() && name.compare(0, kPrefix.size(), kPrefix) == 0 &&
         name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

std::vector<std::string> entry_names(const std::string& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw OSError("cannot list '" + folder + "': " + ec.message());
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : it) names.push_back(entry.path().filename().string());
  return names;
}

}  // namespace

bool is_directory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

std::vector<std::string> list_wav_names(const std::string& folder) {
  std::vector<std::string> names;
  for (std::string& name : entry_names(folder)) {
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

std::vector<std::string> remove_main_speaker_files(const std::string& folder) {
  std::vector<std::string> removed;
  for (const std::string& name : entry_names(folder)) {
    const fs::path path = fs::path(folder) / name;
    std::error_code ec;
    if (!is_main_speaker_name(name) || !fs::is_regular_file(path, ec)) continue;
    fs::remove(path, ec);
    if (ec) throw OSError("cannot remove '" + path.string() + "': " + ec.message());
    removed.push_back(name);
  }
  std::sort(removed.begin(), removed.end());
  return removed;
}

}  // namespace speech
