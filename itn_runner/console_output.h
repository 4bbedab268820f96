// Standard output of itn_runner and itn_bench, written and checked in one
// place: results that cannot be written are the run's failure.
#pragma once

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

// One line on standard output, flushed. False once a write or a flush has
// failed (a full disk, /dev/full): the results would be lost unseen, so the
// program reports it with OutputFailed and ends with status 1. A closed
// pipe still ends the process by SIGPIPE before this is seen.
inline bool PrintLine(const std::string& text) {
  errno = 0;
  std::cout << text << std::endl;
  return static_cast<bool>(std::cout);
}

// The error line for a failed PrintLine, on standard error; returns the
// exit status, 1.
inline int OutputFailed() {
  const int error = errno;
  std::cerr << "错误: 无法写入标准输出";
  if (error != 0) std::cerr << ": " << std::strerror(error);
  std::cerr << std::endl;
  return 1;
}
