#pragma once
// The one directory listing: every entry with what it is (file_kind.h), in
// the interpreter's text order of the names (text_order.h), which is the
// order sorted(os.listdir(path)) gives. A listing never depends on the order
// a file system happens to keep its entries in.
#include <string>
#include <vector>

#include "common/file_kind.h"

namespace speech::common {

struct DirectoryEntry {
  std::string name;  // the name's bytes as the file system holds them
  EntryKind kind = EntryKind::kOther;  // links followed
  bool is_link = false;
};

// Every entry of the directory except "." and "..", sorted. Throws
// SystemCallError naming `path` when the directory cannot be opened or read.
std::vector<DirectoryEntry> list_directory(const std::string& path);

}  // namespace speech::common
