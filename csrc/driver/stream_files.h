#pragma once
// The speaker streams of a recording folder ("main_speaker_<id>.wav",
// "other_speaker_<id>.wav"). Ids start at 0 again for every recording, so a
// folder that an earlier run wrote into would keep that run's streams beside
// the new ones: both drivers clear them before writing. Paths are the file
// system's bytes.
#include <cstddef>
#include <string>
#include <vector>

namespace speech::driver {

// "main_speaker_*.wav" or "other_speaker_*.wav".
bool is_stream_file_name(const std::string& name);

// Removes regular files and links (the link, never what it points to) with a
// stream file name from the folder; folders, pipes and every other name stay.
// Hidden temporaries of stream files that no live write holds go too
// (abandoned_temporaries.h), uncounted.
// Returns the removed names, in listing order. Throws OSError when the folder cannot be
// listed or a file cannot be removed.
std::vector<std::string> remove_stream_files(const std::string& folder);

std::string stale_streams_removed_line(const std::string& folder, size_t removed_count);

}  // namespace speech::driver
