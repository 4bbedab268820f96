#include "common/file_identity.h"

#include <sys/stat.h>

#include "common/file_kind.h"
#include "common/lexical_path.h"

namespace speech::common {

std::optional<FileIdentity> identity_of(const std::string& path) {
  struct stat st {};
  if (!stat_path(path, st)) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

bool same_existing_file(const std::string& a, const std::string& b) {
  const auto first = identity_of(a);
  return first && first == identity_of(b);
}

SamePath::SamePath(const std::string& path) : identity_(identity_of(path)) {
  if (identity_) return;
  WorkingDirectory cwd;
  normal_ = absolute_path(path, cwd);
}

bool SamePath::operator()(const std::string& other) const {
  if (identity_) return identity_of(other) == identity_;
  WorkingDirectory cwd;
  return absolute_path(other, cwd) == normal_;
}

}  // namespace speech::common
