#include "driver/recording_logs.h"

#include "common/os_path.h"
#include "driver/paths.h"

namespace speech::driver {

LogTarget RecordingLogs::next(const std::optional<std::string>& shared_log,
                              const std::string& recording_folder) const {
  if (!shared_log) return {common::path_join(recording_folder, kFolderLogName), false, false};
  return {*shared_log, shared_started_, true};
}

void RecordingLogs::opened(const LogTarget& target) {
  if (target.shared) shared_started_ = true;
}

}  // namespace speech::driver
