#pragma once
// Which file a path leads to, as the drivers compare their inputs and the
// files they write.
#include <sys/types.h>

#include <optional>
#include <string>

namespace speech::common {

// Which file a path leads to, through links: two spellings, a symbolic or a
// hard link of one file have one identity.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// Empty when the path leads to nothing.
std::optional<FileIdentity> identity_of(const std::string& path);

// Whether both paths exist and are one file.
bool same_existing_file(const std::string& a, const std::string& b);

}  // namespace speech::common
