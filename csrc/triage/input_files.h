#pragma once
// File tests of the pipeline, as the interpreter's os.path makes them.
#include <sys/types.h>

#include <optional>
#include <string>

namespace speech {

// os.path.isfile: an existing regular file, through links; a text holding
// NUL names no file.
bool is_regular_file(const std::string& path);

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

}  // namespace speech
