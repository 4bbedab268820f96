#include "triage/utterance_folder.h"

#include <unistd.h>

#include <cerrno>

#include "common/errors.h"
#include "common/os_path.h"

namespace speech::triage {
namespace {

constexpr size_t kDefaultNameMax = 255;

// The folder a path lies in, "." for a bare name.
std::string parent_of(const std::string& path) {
  const std::string_view parent = common::path_dirname(path);
  return parent.empty() ? "." : std::string(parent);
}

}  // namespace

std::string unsafe_utt_id_reason(const std::string& utt_id, size_t name_max) {
  if (utt_id.find('\0') != std::string::npos) return "utt_id contains a NUL character";
  if (!utt_id.empty() && utt_id.front() == '/') return "utt_id is an absolute path";
  for (const std::string_view component : common::path_components(utt_id)) {
    if (component == "..") return "utt_id has a '..' component";
    if (component.size() > name_max) {
      return "utt_id has a component of " + std::to_string(component.size()) +
             " bytes, longer than the file system's " + std::to_string(name_max);
    }
  }
  return "";
}

std::string utterance_folder_path(const std::string& save_dir, const std::string& utt_id) {
  const std::string unsafe = unsafe_utt_id_reason(utt_id, name_max_of(save_dir));
  if (!unsafe.empty()) throw common::ValueError(unsafe);
  return common::path_join(save_dir, utt_id);
}

size_t name_max_of(const std::string& folder) {
  std::string probe = folder.empty() ? "." : folder;
  // The save folder may not exist yet; its nearest existing parent lies on
  // the file system it will be created on.
  for (int depth = 0; depth < 4096; ++depth) {
    errno = 0;
    const long value = pathconf(probe.c_str(), _PC_NAME_MAX);
    if (value > 0) return static_cast<size_t>(value);
    if (errno != ENOENT && errno != ENOTDIR) break;
    const std::string parent = parent_of(probe);
    if (parent == probe) break;
    probe = parent;
  }
  return kDefaultNameMax;
}

}  // namespace speech::triage
