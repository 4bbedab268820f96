#pragma once
// A top-down walk of a directory tree as os.walk does it without following
// links: every directory once, links to directories listed but not entered,
// directories that cannot be listed skipped silently with their subtrees.
// Only regular files are handed on: a FIFO, socket or device would block
// or fail whoever reads it, and a broken link names nothing.
#include <functional>
#include <string>

namespace speech::corpus {

// Calls `visit` with the directory path (spelled from `top`) and the name of
// every entry that is a regular file, links followed as os.path.isfile
// follows them.
void walk_regular_files(const std::string& top,
                          const std::function<void(const std::string& dir, const std::string& name)>& visit);

}  // namespace speech::corpus
