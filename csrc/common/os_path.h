#pragma once
// Path texts handled as the interpreter's posixpath does: by text alone, so a
// path keeps the spelling it was given or built with (links are never
// resolved).
#include <string>
#include <string_view>

namespace speech {

// os.path.join(a, b): b replaces a when absolute; one '/' between them.
std::string path_join(std::string_view head, std::string_view tail);
// Everything after the last '/'.
std::string_view path_basename(std::string_view path);
// Everything before the last '/', trailing slashes dropped unless it is all
// slashes; "" for a bare name.
std::string_view path_dirname(std::string_view path);

}  // namespace speech
