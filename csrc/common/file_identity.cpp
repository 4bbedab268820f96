#include "common/file_identity.h"

#include <sys/stat.h>

#include "common/file_kind.h"

namespace speech::common {

std::optional<FileIdentity> identity_of(const std::string& path) {
  struct stat st {};
  if (!common::stat_path(path, st)) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

bool same_existing_file(const std::string& a, const std::string& b) {
  const auto first = identity_of(a);
  return first && first == identity_of(b);
}

}  // namespace speech::common
