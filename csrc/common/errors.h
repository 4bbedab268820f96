#pragma once
// Error kinds of the core. The binding edge translates each into the
// interpreter's exception of the same name, so callers see the types they
// expect (ValueError, FileNotFoundError, ...).
#include <stdexcept>
#include <string>

namespace speech {

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
struct AssertionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace speech
