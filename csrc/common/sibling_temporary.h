#pragma once
// A new file beside a target path, for writing a result that must appear
// whole or not at all: the result is written to the temporary and renamed
// over the target once complete. Until then the target keeps whatever it
// held, and a temporary that is not committed is removed.
#include <optional>
#include <string>
#include <string_view>

namespace speech::common {

// The result name whose temporary `name` is (".mix.wav.Ab3dEf" -> "mix.wav"),
// or nothing. A temporary's name is a dot, the result's name, a dot and six
// letters or digits; any other name, a look-alike included, is not one.
std::optional<std::string> temporary_result_name(std::string_view name);

class SiblingTemporary {
 public:
  // Creates the file in the target's folder, named after the target with a
  // leading dot and a unique tail, so no pattern that matches result names
  // takes it. Its permissions are those a plain create would give (the
  // process's umask), not the private ones of a temporary. Throws
  // SystemCallError naming the target.
  explicit SiblingTemporary(std::string target);
  ~SiblingTemporary();
  SiblingTemporary(const SiblingTemporary&) = delete;
  SiblingTemporary& operator=(const SiblingTemporary&) = delete;

  // The open descriptor, for writing; it stays owned by this object.
  int fd() const { return fd_; }

  // Closes the descriptor and renames the temporary over the target. Throws
  // SystemCallError naming the target (a failed close, a folder in the
  // target's place, a vanished folder); the temporary is then removed by the
  // destructor.
  void commit();

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace speech::common
