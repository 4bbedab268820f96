#include "driver/paths.h"

#include <cctype>

namespace speech {

std::string path_join(const std::string& head, const std::string& tail) {
  if (!tail.empty() && tail.front() == '/') return tail;
  if (head.empty() || head.back() == '/') return head + tail;
  return head + "/" + tail;
}

std::string path_basename(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string path_dirname(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  std::string head = path.substr(0, slash + 1);
  if (head.find_first_not_of('/') == std::string::npos) return head;
  while (!head.empty() && head.back() == '/') head.pop_back();
  return head;
}

std::string path_stem(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return file_name;
  if (file_name.find_first_not_of('.') >= dot) return file_name;
  return file_name.substr(0, dot);
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
