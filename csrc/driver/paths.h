#pragma once
// Path texts handled as the interpreter's os.path does on POSIX: the driver
// prints them exactly as they were given or built.
#include <string>

#include "common/os_path.h"

namespace speech {

// The file name without its extension (from the last dot on), except that a
// name whose characters before that dot are all dots has no extension.
std::string path_stem(const std::string& file_name);
// A recording's output folder: the save folder joined with the stem of the
// recording's file name.
std::string recording_folder(const std::string& save_dir, const std::string& wav_path);
// Whether the name, lower-cased, ends with ".wav".
bool has_wav_suffix(const std::string& name);

}  // namespace speech
