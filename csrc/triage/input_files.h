#pragma once
// File tests of the pipeline, as the interpreter's os.path makes them.
#include <string>

namespace speech {

// os.path.isfile: an existing regular file, through links; a text holding
// NUL names no file.
bool is_regular_file(const std::string& path);

// Whether both paths exist and are one file (the same device and inode), so
// two spellings, a symbolic or a hard link of one file compare equal.
bool same_existing_file(const std::string& a, const std::string& b);

}  // namespace speech
