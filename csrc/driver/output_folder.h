#pragma once
// File-system side of the driver: the folder scan of directory mode and the
// clean-up of a recording folder that a later task reuses.
#include <string>
#include <vector>

namespace speech {

bool is_directory(const std::string& path);

// Names of the folder's entries (one level, any kind) ending in ".wav" in any
// letter case, sorted by code point. Throws OSError when it cannot be listed.
std::vector<std::string> list_wav_names(const std::string& folder);

// The folder as one canonical path, so two spellings of one folder compare
// equal; the text itself when it cannot be resolved.
std::string canonical_folder(const std::string& folder);

// Removes the regular files named "main_speaker_*.wav" from the folder and
// returns their names, sorted. Throws OSError when one cannot be removed.
std::vector<std::string> remove_main_speaker_files(const std::string& folder);

}  // namespace speech
