#include "driver/paths.h"

#include <cctype>

namespace speech::driver {

std::string recording_folder(const std::string& save_dir, const std::string& wav_path) {
  return common::path_join(save_dir, common::path_splitext(common::path_basename(wav_path)).root);
}

bool has_wav_suffix(const std::string& name) {
  static const std::string kSuffix = ".wav";
  if (name.size() < kSuffix.size()) return false;
  const size_t offset = name.size() - kSuffix.size();
  for (size_t i = 0; i < kSuffix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(name[offset + i])) != kSuffix[i]) return false;
  }
  return true;
}

}  // namespace speech::driver
