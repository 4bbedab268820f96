#include "common/file_identity.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "common/file_kind.h"

namespace fs = std::filesystem;

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

std::string absolute_normal_path(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  std::string normal = (ec ? fs::path(path) : absolute).lexically_normal().string();
  // "/a/b/" and "/a/b" name one path.
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

SamePath::SamePath(const std::string& path) : identity_(identity_of(path)) {
  if (!identity_) normal_ = absolute_normal_path(path);
}

bool SamePath::operator()(const std::string& other) const {
  if (identity_) return identity_of(other) == identity_;
  return absolute_normal_path(other) == normal_;
}

}  // namespace speech::common
