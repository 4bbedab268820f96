#pragma once
// The files a run writes or removes in a recording's (or an utterance's)
// own folder: another output of the run must never be one of them, or the
// run would overwrite or remove it. The hidden temporary of a wav file
// counts as that file, since its next write sweeps stale ones away.
#include <string_view>

namespace speech::driver {

// The mixture in a recording's folder.
inline constexpr const char* kFolderMixName = "mix.wav";

// What a folder holds besides the speaker streams.
enum class FolderFiles {
  kMixture,        // a leadvoice recording whose log is --log_file: "mix.wav"
  kMixtureAndLog,  // a leadvoice recording with its own log
  kLog,            // a triageflow utterance: "log.txt"
};

// Whether the run writes or removes `name` in such a folder: the speaker
// streams always (the stale ones are cleared), the files above, and the
// temporaries of the wav files.
bool is_folder_output(std::string_view name, FolderFiles files);

}  // namespace speech::driver
