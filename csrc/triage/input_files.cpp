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

bool same_existing_file(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (!stat_of(a, &sa) || !stat_of(b, &sb)) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace speech
