#pragma once
// Reading one recording of a driver run. Only a regular file (or a link to
// one) is opened: a folder or a pipe named like a wav file would otherwise
// fail late or block the run. A recording that cannot be read, or that is
// not finite everywhere, is refused with one warning line and nothing is
// created for it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/wav_io.h"
#include "driver/run_tally.h"

namespace speech::driver {

// The rate the tracker and the voice-activity model expect; recordings at
// another rate are resampled to it.
constexpr int64_t kModelRate = 16000;

// The file at `path` (file-system bytes). Throws OSError naming the file
// when it is not a regular file or libsndfile cannot read it.
common::AudioData read_recording(const std::string& path);

// A recording's first channel at its file's own rate, or why it is refused.
struct RecordingRead {
  std::optional<TaskOutcome> refused;  // with the `warning` to print
  std::string warning;
  std::vector<double> first_channel;
  int64_t sample_rate = 0;
};

RecordingRead read_first_channel(const std::string& path);

// The warning for a recording that the resampler refused (one too short for
// its filter cannot be brought to the model rate either).
std::string resampling_refused_warning(const std::string& wav_path, int64_t file_rate, const std::string& error);

}  // namespace speech::driver
