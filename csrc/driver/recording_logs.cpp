#include "driver/recording_logs.h"

#include "common/os_path.h"

namespace speech::driver {

LogTarget RecordingLogs::next(const std::optional<std::string>& shared_log, const std::string& recording_folder) {
  if (!shared_log) return {common::path_join(recording_folder, "log.txt"), false};
  const bool append = shared_started_;
  shared_started_ = true;
  return {*shared_log, append};
}

}  // namespace speech::driver
