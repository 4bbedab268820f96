#pragma once
// Reading one recording of a driver run. Only a regular file (or a link to
// one) is opened: a folder or a pipe named like a wav file would otherwise
// fail late or block the run.
#include <string>

#include "common/wav_io.h"

namespace speech {

// The file at `path` (file-system bytes). Throws OSError naming the file
// when it is not a regular file or libsndfile cannot read it.
AudioData read_recording(const std::string& path);

}  // namespace speech
