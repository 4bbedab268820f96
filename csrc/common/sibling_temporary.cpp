#include "common/sibling_temporary.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "common/abandoned_temporaries.h"
#include "common/errors.h"
#include "common/file_place.h"
#include "common/os_path.h"

namespace speech::common {
namespace {

constexpr size_t kTailLength = 6;
const char kTailCharacters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// As many tries as mkstemp makes before it gives up.
constexpr int kCreateTries = 62 * 62 * 62;

bool is_tail_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The target's folder with its slash ("" for a bare name), then ".<name>.".
std::string temporary_prefix(const std::string& target) {
  const std::string_view name = path_basename(target);
  return target.substr(0, target.size() - name.size()) + "." + std::string(name) + ".";
}

std::string random_tail() {
  std::random_device device;
  std::uniform_int_distribution<size_t> pick(0, sizeof kTailCharacters - 2);
  std::string tail(kTailLength, ' ');
  for (char& c : tail) c = kTailCharacters[pick(device)];
  return tail;
}

// A plain create over an existing file keeps that file's permissions.
std::optional<mode_t> permissions_of_existing(const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return st.st_mode & 0777;
}

int lock(int fd) {
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  return locked;
}

// Between the create and the lock, a sweep of another writer of the same
// target may have locked the new file and removed it. Once the lock is ours
// the name must still lead to this file; if not, the descriptor is of a
// removed file and the caller starts again under a new name.
bool still_named(int fd, const std::string& path, const std::string& target) {
  struct stat opened {};
  struct stat named {};
  if (::fstat(fd, &opened) != 0) throw SystemCallError(errno, target);
  if (::lstat(path.c_str(), &named) != 0) return false;
  return FileIdentity::of(opened) == FileIdentity::of(named);
}

// A new file under `prefix` and a random tail, locked, its name in `path`.
// O_EXCL refuses any name that exists, a link included; the kernel applies
// the umask to 0666, as for any plain create.
UniqueFd create_locked(const std::string& prefix, const std::string& target, std::string& path) {
  for (int tries = 0; tries < kCreateTries; ++tries) {
    path = prefix + random_tail();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd.valid()) {
      if (errno == EEXIST) continue;
      throw SystemCallError(errno, target);
    }
    if (lock(fd.get()) != 0) {
      const int error = errno;
      ::unlink(path.c_str());
      throw SystemCallError(error, target);
    }
    if (still_named(fd.get(), path, target)) return fd;
  }
  throw SystemCallError(EEXIST, target);
}

}  // namespace

std::optional<std::string> temporary_result_name(std::string_view name) {
  // The shortest is ".x.XXXXXX": a dot, one character of name, a dot, the tail.
  if (name.size() < kTailLength + 3 || name.front() != '.') return std::nullopt;
  const size_t tail = name.size() - kTailLength;
  if (name[tail - 1] != '.') return std::nullopt;
  for (size_t i = tail; i < name.size(); ++i) {
    if (!is_tail_character(name[i])) return std::nullopt;
  }
  const std::string_view result = name.substr(1, tail - 2);
  if (result == "." || result == ".." || result.find('/') != std::string_view::npos ||
      result.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  return std::string(result);
}

SiblingTemporary::SiblingTemporary(std::string target) : target_(std::move(target)) {
  remove_abandoned_temporaries(target_);
  fd_ = create_locked(temporary_prefix(target_), target_, path_);
  const std::optional<mode_t> kept = permissions_of_existing(target_);
  if (kept && ::fchmod(fd_.get(), *kept) != 0) fail(errno);
  lock_fd_ = UniqueFd(::dup(fd_.get()));
  if (!lock_fd_.valid()) fail(errno);
}

void SiblingTemporary::fail(int error) {
  ::unlink(path_.c_str());
  throw SystemCallError(error, target_);
}

// Removed while still locked, so no sweep meets a name that is going.
SiblingTemporary::~SiblingTemporary() {
  if (!committed_) ::unlink(path_.c_str());
}

void SiblingTemporary::commit() {
  if (fd_.close() != 0) throw SystemCallError(errno, target_);
  if (::rename(path_.c_str(), target_.c_str()) != 0) throw SystemCallError(errno, target_);
  committed_ = true;
}

}  // namespace speech::common
