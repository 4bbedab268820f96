#include "driver/recording_input.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "common/errors.h"
#include "common/finite_samples.h"
#include "driver/run_messages.h"

namespace speech::driver {

common::AudioData read_recording(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    const char* reason = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    throw common::SndfileError("opening", path, reason);
  }
  return common::read_audio(path);
}

RecordingRead read_first_channel(const std::string& path) {
  RecordingRead read;
  common::AudioData audio;
  try {
    audio = read_recording(path);
  } catch (const common::OSError& e) {
    read.refused = TaskOutcome::kUnreadable;
    read.warning = unreadable_recording_warning(e.what());
    return read;
  }
  read.first_channel.resize(static_cast<size_t>(audio.frames));
  common::copy_first_channel(audio, read.first_channel.data());
  if (!common::all_finite(common::samples_of(read.first_channel))) {
    read.refused = TaskOutcome::kNotFinite;
    read.warning = non_finite_recording_warning(path);
    read.first_channel.clear();
    return read;
  }
  read.sample_rate = audio.sample_rate;
  return read;
}

std::string resampling_refused_warning(const std::string& wav_path, int64_t file_rate, const std::string& error) {
  return unreadable_recording_warning(resampling_failed_text(wav_path, file_rate, error));
}

}  // namespace speech::driver
