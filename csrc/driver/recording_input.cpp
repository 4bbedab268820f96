#include "driver/recording_input.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "common/errors.h"

namespace speech {

AudioData read_recording(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    const char* reason = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    throw OSError("Error opening '" + path + "': " + reason);
  }
  return read_audio(path);
}

}  // namespace speech
