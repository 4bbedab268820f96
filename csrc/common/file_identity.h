#pragma once
// Which file a path leads to, as the drivers compare the files they are
// about to write with the inputs of their run.
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

// One path that many others are compared with. While it leads to a file,
// another path is the same when it leads to that file (any spelling or
// link); while it leads to nothing, when both spell one absolute path
// (normalised by text alone, as os.path.abspath spells it).
class SamePath {
 public:
  explicit SamePath(const std::string& path);
  bool operator()(const std::string& other) const;

 private:
  std::optional<FileIdentity> identity_;
  std::string normal_;  // set only while the path leads to nothing
};

}  // namespace speech::common
