#include "driver/paths.h"

#include <cctype>

namespace speech {

std::string path_stem(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return file_name;
  if (file_name.find_first_not_of('.') >= dot) return file_name;
  return file_name.substr(0, dot);
}

std::string recording_folder(const std::string& save_dir, const std::string& wav_path) {
  return path_join(save_dir, path_stem(std::string(path_basename(wav_path))));
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

}  // namespace speech
