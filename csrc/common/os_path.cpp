#include "common/os_path.h"

namespace speech {

std::string path_join(std::string_view head, std::string_view tail) {
  if (!tail.empty() && tail.front() == '/') return std::string(tail);
  std::string joined(head);
  if (!joined.empty() && joined.back() != '/') joined.push_back('/');
  joined.append(tail);
  return joined;
}

std::string_view path_basename(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view path_dirname(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view head = path.substr(0, slash + 1);
  if (head.find_first_not_of('/') == std::string_view::npos) return head;
  while (!head.empty() && head.back() == '/') head.remove_suffix(1);
  return head;
}

}  // namespace speech
