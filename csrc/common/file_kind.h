#pragma once
// What a path names, asked the way os.path.isdir / os.path.isfile ask it: a
// symbolic link counts as what it points to, a broken link is neither a
// directory nor a file, and a path holding a NUL byte, which no file name
// can, names nothing.
#include <sys/stat.h>

#include <string>

namespace speech::common {

enum class EntryKind { kDirectory, kRegularFile, kOther };

EntryKind kind_of_mode(mode_t mode);

// stat(2) of the path, links followed; false when it names nothing.
bool stat_path(const std::string& path, struct stat& st);

// What `path` is, links followed; anything that cannot be examined is kOther.
EntryKind entry_kind(const std::string& path);

// os.path.isfile and os.path.isdir: links followed.
bool is_regular_file(const std::string& path);
bool is_directory(const std::string& path);

// os.path.exists: anything at `path`, links followed.
bool path_exists(const std::string& path);

}  // namespace speech::common
