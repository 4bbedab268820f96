#pragma once
// Paths built and normalised by text alone, as the interpreter's posixpath
// does: symbolic links are never resolved, so a path keeps the spelling
// through which it was reached.
#include <optional>
#include <string>
#include <string_view>

namespace speech::corpus {

// One '/' between the parts; an absolute tail replaces the head.
std::string join_path(std::string_view head, std::string_view tail);
// Repeated separators and "." removed, ".." cancelling the part before it;
// one or two leading slashes kept as given, three or more become one.
std::string normalize_path(std::string_view path);
// Everything before the last '/', trailing slashes dropped unless it is all
// slashes.
std::string_view directory_part(std::string_view path);
// Everything after the last '/'.
std::string_view last_part(std::string_view path);

// The process's working directory, read once and only when a relative path
// asks for it (an absolute path needs no working directory at all).
class WorkingDirectory {
 public:
  const std::string& get();

 private:
  std::optional<std::string> path_;
};

// The normalised form of `path` made absolute against the working directory.
std::string absolute_path(std::string_view path, WorkingDirectory& cwd);

}  // namespace speech::corpus
