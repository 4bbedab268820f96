#include "common/lexical_path.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/errors.h"
#include "common/text_order.h"

namespace speech::common {

std::string normalize_path(std::string_view path) {
  if (path.empty()) return ".";
  size_t leading = 0;
  if (path.front() == '/') leading = (path.size() > 1 && path[1] == '/' && (path.size() < 3 || path[2] != '/')) ? 2 : 1;
  std::vector<std::string_view> parts;
  for (const std::string_view part : path_components(path)) {
    if (part.empty() || part == ".") continue;
    const bool keep = part != ".." || (leading == 0 && parts.empty()) || (!parts.empty() && parts.back() == "..");
    if (keep) {
      parts.push_back(part);
    } else if (!parts.empty()) {
      parts.pop_back();
    }
  }
  std::string normal(leading, '/');
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) normal.push_back('/');
    normal.append(parts[i]);
  }
  return normal.empty() ? "." : normal;
}

const std::string& WorkingDirectory::get() {
  if (!path_) {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) throw SystemCallError(errno, "");
      buffer.resize(buffer.size() * 2);
    }
    path_ = std::string(buffer.data());
  }
  return *path_;
}

const std::string& WorkingDirectory::order_key() {
  if (!key_) key_ = text_order_key(get());
  return *key_;
}

namespace {

bool is_absolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

}  // namespace

std::string absolute_path(std::string_view path, WorkingDirectory& cwd) {
  if (is_absolute(path)) return normalize_path(path);
  return normalize_path(path_join(cwd.get(), path));
}

std::string absolute_order_key(std::string_view key, WorkingDirectory& cwd) {
  if (is_absolute(key)) return normalize_path(key);
  return normalize_path(path_join(cwd.order_key(), key));
}

}  // namespace speech::common
