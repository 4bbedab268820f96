#include "corpus/directory_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>

#include "common/errors.h"
#include "corpus/text_order.h"

namespace speech::corpus {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

EntryKind kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::kDirectory;
  if (S_ISREG(mode)) return EntryKind::kRegularFile;
  return EntryKind::kOther;
}

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

namespace {

// stat of a path that a file name can be: none holds a NUL byte.
bool stat_path(const std::string& path, struct stat& st) {
  return path.find('\0') == std::string::npos && stat(path.c_str(), &st) == 0;
}

}  // namespace

EntryKind entry_kind(const std::string& path) {
  struct stat st {};
  if (!stat_path(path, st)) return EntryKind::kOther;
  return kind_of_mode(st.st_mode);
}

bool is_regular_file(const std::string& path) { return entry_kind(path) == EntryKind::kRegularFile; }

bool is_directory(const std::string& path) { return entry_kind(path) == EntryKind::kDirectory; }

bool path_exists(const std::string& path) {
  struct stat st {};
  return stat_path(path, st);
}

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
  return entries;
}

std::vector<DirectoryEntry> list_directory_sorted(const std::string& path) {
  std::vector<DirectoryEntry> entries = list_directory(path);
  const bool plain = std::all_of(entries.begin(), entries.end(),
                                 [](const DirectoryEntry& e) { return is_strict_utf8(e.name); });
  if (plain) {
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  } else {
    std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
      return text_order_key(a.name) < text_order_key(b.name);
    });
  }
  return entries;
}

}  // namespace speech::corpus
