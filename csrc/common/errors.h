#pragma once
// Error kinds of the core. The binding edge translates each into the
// interpreter's exception of the same name, so callers see the types they
// expect (ValueError, FileNotFoundError, ...).
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace speech::common {

struct ValueError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct TypeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct FileNotFoundError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Failure of the operating system or an audio file (libsndfile).
struct OSError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A failed call of the operating system, kept with its error number and the
// path it was about, so the edge raises the interpreter's OSError subclass
// for that number (PermissionError, IsADirectoryError, ...) in its usual
// "[Errno N] text: 'path'" form, or "[Errno N] text" for a call about no
// path.
struct SystemCallError : OSError {
  SystemCallError(int error_number, std::string path)
      : OSError(std::strerror(error_number)), error_number(error_number), path(std::move(path)) {}
  int error_number;
  std::string path;  // file-system bytes; empty when the call was about no path
};
struct AssertionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The interpreter's own text for it is "division by zero".
struct ZeroDivisionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace speech::common
