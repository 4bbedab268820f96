#include "common/os_path.h"

namespace speech::common {

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

SplitPath path_splitext(std::string_view path) {
  const size_t name_start = path.size() - path_basename(path).size();
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < name_start) return {path, {}};
  // A leading dot marks a hidden name, not an extension.
  const size_t first_other = path.find_first_not_of('.', name_start);
  if (first_other >= dot) return {path, {}};
  return {path.substr(0, dot), path.substr(dot)};
}

std::vector<std::string_view> path_components(std::string_view path) {
  std::vector<std::string_view> components;
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) break;
    components.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  components.push_back(path.substr(start));
  return components;
}

}  // namespace speech::common
