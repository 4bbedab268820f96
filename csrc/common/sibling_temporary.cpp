#include "common/sibling_temporary.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/errors.h"

namespace speech::common {
namespace {

constexpr size_t kTailLength = 6;

bool is_tail_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string temporary_template(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  return folder + "." + name + ".XXXXXX";
}

// The mode a plain open(O_CREAT, 0666) would give; umask can only be read by
// setting it, and the old value goes straight back.
mode_t created_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
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
  std::string name = temporary_template(target_);
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd_ < 0) throw SystemCallError(errno, target_);
  path_.assign(buffer.data());
  if (::fchmod(fd_, created_file_mode()) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
    throw SystemCallError(error, target_);
  }
}

SiblingTemporary::~SiblingTemporary() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(path_.c_str());
}

void SiblingTemporary::commit() {
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) throw SystemCallError(errno, target_);
  if (::rename(path_.c_str(), target_.c_str()) != 0) throw SystemCallError(errno, target_);
  committed_ = true;
}

}  // namespace speech::common
