#include "corpus/tree_walk.h"

#include <vector>

#include "common/errors.h"
#include "corpus/directory_listing.h"
#include "corpus/lexical_path.h"

namespace speech::corpus {

void walk_regular_files(const std::string& top,
                          const std::function<void(const std::string& dir, const std::string& name)>& visit) {
  std::vector<std::string> pending{top};
  while (!pending.empty()) {
    const std::string dir = std::move(pending.back());
    pending.pop_back();
    std::vector<DirectoryEntry> entries;
    try {
      entries = list_directory(dir);
    } catch (const SystemCallError&) {
      continue;
    }
    for (const DirectoryEntry& entry : entries) {
      if (entry.kind == EntryKind::kRegularFile) {
        visit(dir, entry.name);
      } else if (entry.kind == EntryKind::kDirectory && !entry.is_link) {
        pending.push_back(path_join(dir, entry.name));
      }
    }
  }
}

}  // namespace speech::corpus
