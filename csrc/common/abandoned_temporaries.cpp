#include "common/abandoned_temporaries.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <optional>
#include <string_view>
#include <vector>

#include "common/directory_listing.h"
#include "common/errors.h"
#include "common/file_place.h"
#include "common/os_path.h"
#include "common/sibling_temporary.h"
#include "common/unique_fd.h"

namespace speech::common {
namespace {

// The lock is taken without waiting: a held temporary is a live write. The
// name is looked at again under the lock, so a file that replaced the one
// locked (another sweep removed it, a writer made a new one) is not taken.
// O_NONBLOCK keeps a FIFO under a temporary's name from blocking the open;
// it is no regular file and is left anyway.
void remove_if_abandoned(int folder_fd, const std::string& name) {
  struct stat named {};
  if (::fstatat(folder_fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) return;
  const UniqueFd file(::openat(folder_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat opened {};
  if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) return;
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) return;
  if (::fstatat(folder_fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || FileIdentity::of(named) != FileIdentity::of(opened)) return;
  ::unlinkat(folder_fd, name.c_str(), 0);
}

}  // namespace

void remove_abandoned_temporaries(const std::string& target) {
  const std::string_view dirname = path_dirname(target);
  const std::string_view result = path_basename(target);
  remove_abandoned_temporaries(dirname.empty() ? "." : std::string(dirname),
                               [result](std::string_view name) { return name == result; });
}

void remove_abandoned_temporaries(const std::string& folder,
                                  const std::function<bool(std::string_view)>& is_result) {
  const UniqueFd folder_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_fd.valid()) return;
  std::vector<DirectoryEntry> entries;
  try {
    entries = list_directory(folder);
  } catch (const SystemCallError&) {
    return;
  }
  for (const DirectoryEntry& entry : entries) {
    const std::optional<std::string> result = temporary_result_name(entry.name);
    if (result && is_result(*result)) remove_if_abandoned(folder_fd.get(), entry.name);
  }
}

}  // namespace speech::common
