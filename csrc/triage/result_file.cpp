#include "triage/result_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "triage/messages.h"

namespace speech::triage {
namespace {

int open_for_writing(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw common::ValueError("embedded null byte");
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw common::SystemCallError(errno, path);
  return fd;
}

}  // namespace

ResultFile::ResultFile(std::string path) : path_(std::move(path)), fd_(open_for_writing(path_)) {
  int status = 0;
  do {
    status = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (status != 0 && errno == EINTR);
  if (status == 0) return;
  const int error_number = errno;
  ::close(fd_);
  fd_ = -1;
  if (error_number == EWOULDBLOCK) throw ResultFileLocked(result_file_locked_error(path_));
  throw common::SystemCallError(error_number, path_);
}

ResultFile::~ResultFile() {
  if (fd_ >= 0) ::close(fd_);
}

void ResultFile::truncate() {
  if (::ftruncate(fd_, 0) != 0) throw common::SystemCallError(errno, path_);
  end_ = 0;
}

void ResultFile::append(std::string_view line) {
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::pwrite(fd_, line.data() + done, line.size() - done, end_ + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    // A regular file that takes no byte without an error is full all the same.
    if (n <= 0) fail_append(n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
  end_ += static_cast<off_t>(done);
}

void ResultFile::fail_append(int error_number) {
  // Shrinking needs no free space, so a full file system still takes it.
  int status = 0;
  do {
    status = ::ftruncate(fd_, end_);
  } while (status != 0 && errno == EINTR);
  throw common::SystemCallError(error_number, path_);
}

}  // namespace speech::triage
