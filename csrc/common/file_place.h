#pragma once
// Where a path leads in the file system, whatever its spelling. A file that
// exists is known by its identity; a path that leads to nothing yet, by the
// identity of its nearest existing folder and the rest of the path below
// it. So two spellings of one place compare equal through symbolic links,
// bind mounts and "..", also before the folders they name are made.
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <tuple>

namespace speech::common {

// Which file a path leads to, through links: two spellings, a symbolic or a
// hard link of one file have one identity; so do a folder and a bind mount
// of it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  static FileIdentity of(const struct stat& st) { return FileIdentity{st.st_dev, st.st_ino}; }
  bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
  bool operator<(const FileIdentity& other) const {
    return std::tie(device, inode) < std::tie(other.device, other.inode);
  }
};

struct FilePlace {
  FileIdentity anchor;  // the file itself, or its nearest existing folder
  std::string rest;     // below the anchor, normalised; "" when the path exists
  bool operator==(const FilePlace& other) const { return anchor == other.anchor && rest == other.rest; }
  bool operator!=(const FilePlace& other) const { return !(*this == other); }
};

// A link that leads to nothing is followed to where it points, since
// opening it for writing makes the file there.
FilePlace place_of(const std::string& path);

// The folder a path's file is or would be in, and its name there: for a
// file that exists, its real folder and real name, every link resolved.
struct FileSlot {
  FilePlace folder;
  std::string name;
};
FileSlot slot_of(const std::string& path);

}  // namespace speech::common
