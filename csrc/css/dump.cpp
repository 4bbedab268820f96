#include "css/dump.h"

#include <cstdio>

#include "common/number_format.h"
#include "common/wav_io.h"

namespace speech::css {

std::string segment_folder_name(int64_t seg_idx, double start_seconds, double end_seconds) {
  char number[32];
  std::snprintf(number, sizeof number, "%03lld", static_cast<long long>(seg_idx + 1));
  return std::string("segment_") + number + "_" + common::format_fixed(start_seconds, 2) + "s-" +
         common::format_fixed(end_seconds, 2) + "s";
}

std::string separated_file_name(int64_t position) {
  return "separated_" + std::to_string(position) + ".wav";
}

void write_dump_wav(const std::string& path, common::SampleView<const float> samples, int sample_rate) {
  common::write_wav(path, samples.contiguous_data(), samples.size(), 1, sample_rate, common::WavSubtype::kPcm16);
}

void write_dump_wav(const std::string& path, common::SampleView<const double> samples, int sample_rate) {
  common::write_wav(path, samples.contiguous_data(), samples.size(), 1, sample_rate, common::WavSubtype::kPcm16);
}

}  // namespace speech::css
