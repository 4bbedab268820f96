#pragma once
// The utterance folder is the save folder joined with the utterance id, and
// the id comes from an outside list: an id that would lead out of the save
// folder, or that the file system cannot hold as a folder name, is refused
// before anything is created.
#include <cstddef>
#include <string>

namespace speech::triage {

// Why `utt_id` cannot name a folder inside the save folder, or "" when it
// can. `name_max` is the longest file name (bytes) the file system takes.
std::string unsafe_utt_id_reason(const std::string& utt_id, size_t name_max);

// save_dir joined with utt_id; throws ValueError with the reason when the
// id cannot name a folder inside it.
std::string utterance_folder_path(const std::string& save_dir, const std::string& utt_id);

// The longest file name in bytes that the file system of `folder` (or of its
// nearest existing parent) takes; 255 when it cannot be asked.
size_t name_max_of(const std::string& folder);

}  // namespace speech::triage
