#pragma once
// Where each recording's log goes. Without --log_file every recording has
// "log.txt" in its own folder, truncated when it is opened. A --log_file
// serves every recording of the run: the first recording that opens it
// truncates it and later ones append, so it keeps the log of the whole run.
#include <optional>
#include <string>

namespace speech::driver {

struct LogTarget {
  std::string path;  // file-system bytes
  bool append = false;
  bool shared = false;  // the --log_file log
};

class RecordingLogs {
 public:
  // `shared_log`: the --log_file path when one is given (a non-empty text).
  LogTarget next(const std::optional<std::string>& shared_log, const std::string& recording_folder) const;
  // The target that `next` gave has been opened; until the shared log has
  // been, it is truncated, not appended to.
  void opened(const LogTarget& target);

 private:
  bool shared_started_ = false;  // the --log_file log has been truncated
};

}  // namespace speech::driver
