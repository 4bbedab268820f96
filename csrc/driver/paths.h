#pragma once
// Path texts handled as the interpreter's os.path does on POSIX: the driver
// prints them exactly as they were given or built.
#include <string>

#include "common/os_path.h"

namespace speech::driver {

// The log in a recording's (or an utterance's) own output folder.
inline constexpr const char* kFolderLogName = "log.txt";

// A recording's output folder: the save folder joined with the recording's
// file name less its extension (os.path.splitext).
std::string recording_folder(const std::string& save_dir, const std::string& wav_path);
// Whether the name, lower-cased, ends with ".wav".
bool has_wav_suffix(const std::string& name);

}  // namespace speech::driver
