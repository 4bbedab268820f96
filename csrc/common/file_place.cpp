#include "common/file_place.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "common/lexical_path.h"
#include "common/os_path.h"

namespace speech::common {
namespace {

// The kernel gives up on a chain of links this long (ELOOP).
constexpr int kMostLinks = 40;

// Where a link that leads to nothing points, spelled from the link's folder.
std::optional<std::string> dangling_target(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return std::nullopt;
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
  if (length < 0) return std::nullopt;
  const std::string target(buffer.data(), static_cast<size_t>(length));
  if (!target.empty() && target.front() == '/') return target;
  const std::string_view folder = path_dirname(path);
  return folder.empty() ? target : path_join(folder, target);
}

// The path itself once dangling links at its end are followed.
std::string written_path(const std::string& path) {
  std::string current = path.empty() ? std::string(".") : path;
  for (int hop = 0; hop < kMostLinks; ++hop) {
    std::optional<std::string> target = dangling_target(current);
    if (!target) break;
    current = std::move(*target);
  }
  return current;
}

// The longest leading run of components that exists; the kernel resolves
// "..", links and mounts in it as it would when the file is made.
FilePlace place_below_existing(const std::string& path) {
  const bool absolute = path.front() == '/';
  std::vector<std::string_view> parts;
  for (const std::string_view part : path_components(path)) {
    if (!part.empty() && part != ".") parts.push_back(part);
  }
  for (size_t kept = parts.size(); kept-- > 0;) {
    std::string prefix = absolute ? "/" : "";
    for (size_t i = 0; i < kept; ++i) prefix = path_join(prefix, parts[i]);
    if (prefix.empty()) prefix = ".";
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) continue;
    std::string rest;
    for (size_t i = kept; i < parts.size(); ++i) rest = path_join(rest, parts[i]);
    return FilePlace{FileIdentity::of(st), normalize_path(rest)};
  }
  // Not even the root or the working directory: nothing to compare by.
  return FilePlace{FileIdentity{}, normalize_path(path)};
}

std::string real_path(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

}  // namespace

FilePlace place_of(const std::string& path) {
  const std::string written = written_path(path);
  struct stat st {};
  if (::stat(written.c_str(), &st) == 0) return FilePlace{FileIdentity::of(st), ""};
  return place_below_existing(written);
}

FileSlot slot_of(const std::string& path) {
  const std::string written = written_path(path);
  struct stat st {};
  if (::stat(written.c_str(), &st) == 0) {
    const std::string real = real_path(written);
    const std::string_view folder = path_dirname(real);
    return FileSlot{place_of(folder.empty() ? std::string("/") : std::string(folder)),
                    std::string(path_basename(real))};
  }
  FilePlace place = place_below_existing(written);
  const std::string rest = std::move(place.rest);
  place.rest = std::string(path_dirname(rest));
  return FileSlot{std::move(place), std::string(path_basename(rest))};
}

}  // namespace speech::common
