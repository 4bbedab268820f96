#include "triage/input_files.h"

#include <sys/stat.h>

namespace speech {
namespace {

bool stat_of(const std::string& path, struct stat* out) {
  if (path.find('\0') != std::string::npos) return false;
  return ::stat(path.c_str(), out) == 0;
}

}  // namespace

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return stat_of(path, &st) && S_ISREG(st.st_mode);
}

std::optional<FileIdentity> identity_of(const std::string& path) {
  struct stat st {};
  if (!stat_of(path, &st)) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

bool same_existing_file(const std::string& a, const std::string& b) {
  const auto first = identity_of(a);
  return first && first == identity_of(b);
}

}  // namespace speech
