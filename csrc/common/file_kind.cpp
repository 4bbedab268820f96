#include "common/file_kind.h"

namespace speech::common {

EntryKind kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::kDirectory;
  if (S_ISREG(mode)) return EntryKind::kRegularFile;
  return EntryKind::kOther;
}

bool stat_path(const std::string& path, struct stat& st) {
  return path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0;
}

EntryKind entry_kind(const std::string& path) {
  struct stat st {};
  if (!stat_path(path, st)) return EntryKind::kOther;
  return kind_of_mode(st.st_mode);
}

bool is_regular_file(const std::string& path) { return entry_kind(path) == EntryKind::kRegularFile; }

bool is_directory(const std::string& path) { return entry_kind(path) == EntryKind::kDirectory; }

bool path_exists(const std::string& path) {
  struct stat st {};
  return stat_path(path, st);
}

}  // namespace speech::common
