// The input text file of itn_runner and itn_bench: what may be opened as one,
// the lines that are handed to the engine, and a read that fails on the way.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False when `path` cannot be opened for reading. A folder opens, and
  // would read as an empty input; it is refused as unreadable instead.
  bool Open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    return true;
  }

  // Appends the lines of the file to `lines`, split at the newline
  // character only (a carriage return stays in its line), empty ones
  // dropped; a last line without a newline counts like any other. A read
  // that fails is no end of the file: the reading stops there, the lines
  // completed before it stay in `lines` (the unfinished one is dropped) and
  // the result is false, with read_error() holding the reason.
  bool ReadNonEmptyLines(std::vector<std::string>* lines) {
    std::string line;
    char buffer[1 << 16];
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR) continue;
        read_error_ = errno;
        return false;
      }
      if (got == 0) break;
      for (const char* p = buffer; p < buffer + got;) {
        const char* newline = static_cast<const char*>(std::memchr(p, '\n', buffer + got - p));
        if (newline == nullptr) {
          line.append(p, static_cast<size_t>(buffer + got - p));
          break;
        }
        line.append(p, static_cast<size_t>(newline - p));
        if (!line.empty()) lines->push_back(line);
        line.clear();
        p = newline + 1;
      }
    }
    if (!line.empty()) lines->push_back(line);
    return true;
  }

  int read_error() const { return read_error_; }

 private:
  int fd_ = -1;
  int read_error_ = 0;
};

// The error line of an input file whose reading failed midway.
inline void PrintReadError(const std::string& path, int error) {
  std::cerr << "错误: 无法读取文件 " << path << ": " << std::strerror(error) << std::endl;
}
