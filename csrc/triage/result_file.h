#pragma once
// The pipeline's result file. Readers of a JSON-lines file break on a torn
// last line, and two runs appending to one file interleave and lose lines,
// so the file is held under an exclusive advisory lock for the whole run
// and every line lands whole or not at all.
#include <sys/types.h>

#include <string>
#include <string_view>

#include "common/errors.h"

namespace speech::triage {

// Another open file (another run, as a rule) holds the lock.
struct ResultFileLocked : common::OSError {
  using common::OSError::OSError;
};

class ResultFile {
 public:
  // Opens `path` for writing, creating it but never truncating it, and takes
  // the lock. Throws ResultFileLocked when the lock is held elsewhere (the
  // file is left as it was) and SystemCallError when it cannot be opened.
  explicit ResultFile(std::string path);
  ~ResultFile();
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  // Empties the file: the run's own lines are all it will hold.
  void truncate();

  // Writes `line` after the last whole line. A failed or short write cuts
  // the file back to where the line began, then throws SystemCallError.
  void append(std::string_view line);

  const std::string& path() const { return path_; }

 private:
  [[noreturn]] void fail_append(int error_number);

  std::string path_;
  int fd_ = -1;
  off_t end_ = 0;  // end of the last whole line
};

}  // namespace speech::triage
