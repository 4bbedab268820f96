#pragma once
// Paths built and normalised by text alone, as the interpreter's posixpath
// does: symbolic links are never resolved, so a path keeps the spelling
// through which it was reached.
#include <optional>
#include <string>
#include <string_view>

#include "common/os_path.h"

namespace speech::common {

// Repeated separators and "." removed, ".." cancelling the part before it;
// one or two leading slashes kept as given, three or more become one.
std::string normalize_path(std::string_view path);

// The process's working directory, read once and only when a relative path
// asks for it (an absolute path needs no working directory at all).
class WorkingDirectory {
 public:
  const std::string& get();
  // The same as a text order key (text_order.h).
  const std::string& order_key();

 private:
  std::optional<std::string> path_;
  std::optional<std::string> key_;
};

// The normalised form of `path` made absolute against the working directory.
std::string absolute_path(std::string_view path, WorkingDirectory& cwd);
// The same for the text order key of a path, whatever text it holds.
std::string absolute_order_key(std::string_view key, WorkingDirectory& cwd);

}  // namespace speech::common
