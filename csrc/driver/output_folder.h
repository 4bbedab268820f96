#pragma once
// File-system side of the drivers: the folder scan of directory mode and the
// identity of an output folder. Paths are the file system's bytes.
#include <string>
#include <vector>

#include "common/directory_listing.h"

namespace speech::driver {

// Names of the folder's entries (one level, any kind) ending in ".wav" in any
// letter case, in code-point order. Throws OSError when it cannot be listed.
std::vector<std::string> list_wav_names(const std::string& folder);

// The folder as one canonical path, so two spellings of one folder compare
// equal; the text itself when it cannot be resolved.
std::string canonical_folder(const std::string& folder);

// The folder's entries (list_directory), failing with an OSError in the
// drivers' wording, "cannot list '<folder>': <reason>".
std::vector<common::DirectoryEntry> folder_entries(const std::string& folder);

}  // namespace speech::driver
