#include "driver/folder_outputs.h"

#include <optional>
#include <string>

#include "common/sibling_temporary.h"
#include "driver/paths.h"
#include "driver/stream_files.h"

namespace speech::driver {
namespace {

// The wav files, written whole through a temporary.
bool is_audio_output(const std::string& name, FolderFiles files) {
  return is_stream_file_name(name) || (files != FolderFiles::kLog && name == kFolderMixName);
}

}  // namespace

bool is_folder_output(std::string_view name, FolderFiles files) {
  if (const std::optional<std::string> result = common::temporary_result_name(name)) {
    return is_audio_output(*result, files);
  }
  const std::string text(name);
  return is_audio_output(text, files) || (files != FolderFiles::kMixture && text == kFolderLogName);
}

}  // namespace speech::driver
