#include "common/output_path.h"

#include <sys/stat.h>

#include <vector>

#include "common/directory_listing.h"
#include "common/errors.h"
#include "common/file_kind.h"
#include "common/os_path.h"

namespace speech::common {

OutputPath::OutputPath(const std::string& path) : place_(place_of(path)), slot_(slot_of(path)) {
  struct stat st {};
  has_other_links_ = stat_path(path, st) && S_ISREG(st.st_mode) && st.st_nlink > 1;
}

std::optional<std::string> OutputPath::file_in(const std::string& folder, const OwnedNames& owned) const {
  if (owned(slot_.name) && place_of(folder) == slot_.folder) return path_join(folder, slot_.name);
  if (has_other_links_) return hard_link_in(folder, owned);
  return std::nullopt;
}

// Writing the output in place would change that file under its other name
// too; only a hard-linked output needs the folder read.
std::optional<std::string> OutputPath::hard_link_in(const std::string& folder, const OwnedNames& owned) const {
  if (!is_directory(folder)) return std::nullopt;
  std::vector<DirectoryEntry> entries;
  try {
    entries = list_directory(folder);
  } catch (const SystemCallError&) {
    return std::nullopt;  // the run meets that folder's fault when it gets there
  }
  for (const DirectoryEntry& entry : entries) {
    if (entry.kind != EntryKind::kRegularFile || !owned(entry.name)) continue;
    const std::string path = path_join(folder, entry.name);
    if (place_of(path) == place_) return path;
  }
  return std::nullopt;
}

OutputFolders::OutputFolders(std::vector<std::string> folders, OwnedNames owned)
    : folders_(std::move(folders)), owned_(std::move(owned)) {
  for (size_t i = 0; i < folders_.size(); ++i) {
    struct stat st {};
    if (stat_path(folders_[i], st) && S_ISDIR(st.st_mode)) existing_.emplace(FileIdentity::of(st), i);
  }
}

std::optional<OutputFolders::Holder> OutputFolders::holder_of(const std::string& input) const {
  if (existing_.empty() || !path_exists(input)) return std::nullopt;
  const FileSlot slot = slot_of(input);
  if (!slot.folder.rest.empty() || !owned_(slot.name)) return std::nullopt;
  const auto found = existing_.find(slot.folder.anchor);
  if (found == existing_.end()) return std::nullopt;
  return Holder{found->second, path_join(folders_[found->second], slot.name)};
}

}  // namespace speech::common
