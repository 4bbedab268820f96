#pragma once
// A failed call of the operating system, kept with its error number and the
// path it was about, so the binding edge can raise the interpreter's own
// OSError subclass (PermissionError, FileNotFoundError, ...) with the usual
// "[Errno N] text: 'path'" form.
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace speech::corpus {

struct OsCallError : std::runtime_error {
  OsCallError(int error_number, std::string path)
      : std::runtime_error(std::strerror(error_number)), error_number(error_number), path(std::move(path)) {}
  int error_number;
  std::string path;  // empty when the call was about no path
};

}  // namespace speech::corpus
