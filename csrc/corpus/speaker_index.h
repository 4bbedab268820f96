#pragma once
// The speaker file index of one speech corpus laid out as
// root/subset/speaker/file or root/subset/speaker/folder/file.
#include <string>
#include <string_view>
#include <vector>

#include "corpus/extension_filter.h"
#include "common/lexical_path.h"

namespace speech::corpus {

struct SpeakerFiles {
  std::string id;                  // the speaker folder's name
  std::vector<std::string> paths;  // absolute, normalised, unique, in text order
};

// Speakers in the order their first non-empty folder is met (subsets and
// speakers visited in text order); a speaker met again under a later subset
// gets the union of both lists in its first place. Empty when `root` is no
// directory. A listing that fails inside the corpus throws SystemCallError.
std::vector<SpeakerFiles> index_speakers(const std::string& root, const ExtensionFilter& filter,
                                         common::WorkingDirectory& cwd);

// How a combined index names its speakers: the corpus label, "_" and the
// speaker id, or the speaker id alone (one speaker in several corpora
// gets the union of their files).
enum class CombinedIds { kPrefixed, kMerged };

// The strategy named "prefix" or "merge"; ValueError for any other name.
CombinedIds combined_ids(std::string_view strategy);

// `stored` followed by `added`, then unique and in text order.
void merge_speaker_paths(std::vector<std::string>& stored, std::vector<std::string> added);

}  // namespace speech::corpus
