#pragma once
// Path texts handled as the interpreter's posixpath does: by text alone, so a
// path keeps the spelling it was given or built with (links are never
// resolved).
#include <string>
#include <string_view>
#include <vector>

namespace speech::common {

// os.path.join(a, b): b replaces a when absolute; one '/' between them.
std::string path_join(std::string_view head, std::string_view tail);
// Everything after the last '/'.
std::string_view path_basename(std::string_view path);
// Everything before the last '/', trailing slashes dropped unless it is all
// slashes; "" for a bare name.
std::string_view path_dirname(std::string_view path);

// os.path.splitext: root + extension == path. The extension runs from the
// last dot of the last component, unless only dots stand before that dot in
// it (".wav" and "..x" have none); "" when there is none.
struct SplitPath {
  std::string_view root;
  std::string_view extension;
};
SplitPath path_splitext(std::string_view path);

// The texts between the '/' separators, in order; a leading, doubled or
// trailing '/' gives an empty component, so "" and "." mean what the caller
// says they mean.
std::vector<std::string_view> path_components(std::string_view path);

}  // namespace speech::common
