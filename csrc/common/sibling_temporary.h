#pragma once
// A new file beside a target path, for writing a result that must appear
// whole or not at all: the result is written to the temporary and renamed
// over the target once complete. Until then the target keeps whatever it
// held, and a temporary that is not committed is removed.
//
// A temporary is named ".<target name>.XXXXXX" (six letters or digits) and
// holds an exclusive flock for its whole life, so a process killed while
// writing leaves a name that the next write of the same target recognises
// and an unlocked file that it may remove (abandoned_temporaries.h).
#include <optional>
#include <string>
#include <string_view>

#include "common/unique_fd.h"

namespace speech::common {

// The result name whose temporary `name` is (".mix.wav.Ab3dEf" -> "mix.wav"),
// or nothing. A temporary's name is a dot, the result's name, a dot and six
// letters or digits; any other name, a look-alike included, is not one.
std::optional<std::string> temporary_result_name(std::string_view name);

class SiblingTemporary {
 public:
  // First removes the temporaries of the same target that killed writes
  // left, then creates the file in the target's folder under a fresh
  // temporary name. Its permissions are those a plain create would give:
  // the kernel applies the process's umask to 0666, and a regular file
  // already at the target keeps its own permissions. Throws SystemCallError
  // naming the target.
  explicit SiblingTemporary(std::string target);
  ~SiblingTemporary();
  SiblingTemporary(const SiblingTemporary&) = delete;
  SiblingTemporary& operator=(const SiblingTemporary&) = delete;

  // The open descriptor, for writing; it stays owned by this object.
  int fd() const { return fd_.get(); }

  // Closes the descriptor and renames the temporary over the target. Throws
  // SystemCallError naming the target (a failed close, a folder in the
  // target's place, a vanished folder); the temporary is then removed by the
  // destructor.
  void commit();

 private:
  // Removes the temporary and throws SystemCallError(error) naming the target.
  [[noreturn]] void fail(int error);

  std::string target_;
  std::string path_;
  UniqueFd fd_;
  // A second descriptor of the same open file: the lock lives as long as
  // either, so it outlasts the checked close of fd_ until the rename is done
  // or the temporary is removed.
  UniqueFd lock_fd_;
  bool committed_ = false;
};

}  // namespace speech::common
