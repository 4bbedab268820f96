#include "common/directory_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string_view>

#include "common/errors.h"
#include "common/text_order.h"

namespace speech::common {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

EntryKind followed_kind(int dir_fd, const char* name) {
  struct stat st {};
  if (fstatat(dir_fd, name, &st, 0) != 0) return EntryKind::kOther;
  return kind_of_mode(st.st_mode);
}

// The directory's own type field spares a stat call for everything but links
// and file systems that leave the type unknown.
DirectoryEntry describe(int dir_fd, const dirent& raw) {
  DirectoryEntry entry;
  entry.name = raw.d_name;
  switch (raw.d_type) {
    case DT_DIR:
      entry.kind = EntryKind::kDirectory;
      return entry;
    case DT_REG:
      entry.kind = EntryKind::kRegularFile;
      return entry;
    case DT_LNK:
      entry.is_link = true;
      entry.kind = followed_kind(dir_fd, raw.d_name);
      return entry;
    case DT_UNKNOWN: {
      struct stat st {};
      if (fstatat(dir_fd, raw.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return entry;
      entry.is_link = S_ISLNK(st.st_mode);
      entry.kind = entry.is_link ? followed_kind(dir_fd, raw.d_name) : kind_of_mode(st.st_mode);
      return entry;
    }
    default:
      return entry;
  }
}

}  // namespace

std::vector<DirectoryEntry> list_directory(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) throw SystemCallError(errno, path);
  const int fd = dirfd(dir.get());
  std::vector<DirectoryEntry> entries;
  while (true) {
    errno = 0;
    const dirent* raw = readdir(dir.get());
    if (raw == nullptr) {
      if (errno != 0) throw SystemCallError(errno, path);
      break;
    }
    const std::string_view name(raw->d_name);
    if (name == "." || name == "..") continue;
    entries.push_back(describe(fd, *raw));
  }
  sort_by_text(entries, [](const DirectoryEntry& entry) -> const std::string& { return entry.name; });
  return entries;
}

}  // namespace speech::common
