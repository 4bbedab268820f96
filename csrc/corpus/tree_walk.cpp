#include "corpus/tree_walk.h"

#include <vector>

#include "common/directory_listing.h"
#include "common/errors.h"
#include "common/lexical_path.h"

namespace speech::corpus {

void walk_regular_files(const std::string& top,
                          const std::function<void(const std::string& dir, const std::string& name)>& visit) {
  std::vector<std::string> pending{top};
  while (!pending.empty()) {
    const std::string dir = std::move(pending.back());
    pending.pop_back();
    std::vector<common::DirectoryEntry> entries;
    try {
      entries = common::list_directory(dir);
    } catch (const common::SystemCallError&) {
      continue;
    }
    for (const common::DirectoryEntry& entry : entries) {
      if (entry.kind == common::EntryKind::kRegularFile) {
        visit(dir, entry.name);
      } else if (entry.kind == common::EntryKind::kDirectory && !entry.is_link) {
        pending.push_back(common::path_join(dir, entry.name));
      }
    }
  }
}

}  // namespace speech::corpus
