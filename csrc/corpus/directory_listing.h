#pragma once
// Directory listings with what each entry is, following symbolic links the
// way os.path.isdir / os.path.isfile do: a link counts as what it points to,
// and a broken link is neither a directory nor a file.
#include <string>
#include <vector>

namespace speech::corpus {

enum class EntryKind { kDirectory, kRegularFile, kOther };

struct DirectoryEntry {
  std::string name;  // the name's bytes as the file system holds them
  EntryKind kind = EntryKind::kOther;
  bool is_link = false;
};

// What `path` is, links followed; anything that cannot be examined is kOther,
// and so is a path holding a NUL byte, which no file name can.
EntryKind entry_kind(const std::string& path);

// os.path.isfile and os.path.isdir: links followed.
bool is_regular_file(const std::string& path);
bool is_directory(const std::string& path);

// os.path.exists: anything at `path`, links followed.
bool path_exists(const std::string& path);

// Every entry of the directory except "." and "..", in no particular order.
// Throws SystemCallError naming `path` when the directory cannot be opened or read.
std::vector<DirectoryEntry> list_directory(const std::string& path);

// The same listing in the interpreter's text order of the names.
std::vector<DirectoryEntry> list_directory_sorted(const std::string& path);

}  // namespace speech::corpus
