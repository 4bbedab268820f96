#pragma once
// Path texts handled as the interpreter's os.path does on POSIX: the driver
// prints them exactly as they were given or built.
#include <string>

namespace speech {

// os.path.join(a, b): b replaces a when absolute; one '/' between them.
std::string path_join(const std::string& head, const std::string& tail);
// Everything after the last '/'.
std::string path_basename(const std::string& path);
// Everything before the last '/', trailing slashes dropped unless it is all
// slashes; "" for a bare name.
std::string path_dirname(const std::string& path);
// The file name without its extension (from the last dot on), except that a
// name whose characters before that dot are all dots has no extension.
std::string path_stem(const std::string& file_name);
// Whether the name, lower-cased, ends with ".wav".
bool has_wav_suffix(const std::string& name);

}  // namespace speech
