#pragma once
// The per-window inspection dump: folder and file names, and the wav writes
// (16-bit PCM with clipping, like every wav of the speech side).
#include <cstdint>
#include <string>

#include "common/sample_view.h"

namespace speech::css {

inline constexpr const char* kDumpMixFile = "mix.wav";

// "segment_" + (seg_idx + 1) in at least three digits + "_" + start + "s-" +
// end + "s", the times in seconds with two decimals.
std::string segment_folder_name(int64_t seg_idx, double start_seconds, double end_seconds);

// "separated_" + position + ".wav".
std::string separated_file_name(int64_t position);

// The samples lie side by side.
void write_dump_wav(const std::string& path, common::SampleView<const float> samples, int sample_rate);
void write_dump_wav(const std::string& path, common::SampleView<const double> samples, int sample_rate);

}  // namespace speech::css
