#pragma once
// A top-down walk of a directory tree as os.walk does it without following
// links: every directory once, links to directories listed but not entered,
// directories that cannot be listed skipped silently with their subtrees.
#include <functional>
#include <string>

namespace speech::corpus {

// Calls `visit` with the directory path (spelled from `top`) and the name of
// every entry that is not a directory (files, broken links, anything else).
void walk_non_directories(const std::string& top,
                          const std::function<void(const std::string& dir, const std::string& name)>& visit);

}  // namespace speech::corpus
