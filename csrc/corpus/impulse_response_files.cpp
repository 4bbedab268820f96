#include "corpus/impulse_response_files.h"

#include "common/os_path.h"
#include "common/file_kind.h"
#include "common/text_order.h"
#include "corpus/tree_walk.h"

namespace speech::corpus {

bool ImpulseResponseFiles::add_path(const std::string& pattern) {
  const common::EntryKind kind = common::entry_kind(pattern);
  if (kind == common::EntryKind::kDirectory) {
    walk_regular_files(pattern, [this](const std::string& dir, const std::string& name) {
      if (filter_.accepts(name)) files_.push_back(common::absolute_path(common::path_join(dir, name), cwd_));
    });
    return true;
  }
  if (kind == common::EntryKind::kRegularFile) {
    add_file(pattern);
    return true;
  }
  return false;
}

void ImpulseResponseFiles::add_match(const std::string& match) {
  if (common::is_regular_file(match)) add_file(match);
}

void ImpulseResponseFiles::add_file(const std::string& path) {
  if (filter_.accepts(path)) files_.push_back(common::absolute_path(path, cwd_));
}

std::vector<RoomType> ImpulseResponseFiles::rooms() {
  common::sort_unique_by_text(files_);
  return group_by_room(files_);
}

}  // namespace speech::corpus
