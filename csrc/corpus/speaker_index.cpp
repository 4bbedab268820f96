#include "corpus/speaker_index.h"

#include <iterator>
#include <unordered_map>
#include <utility>

#include "common/errors.h"
#include "common/directory_listing.h"
#include "common/text_order.h"

namespace speech::corpus {
namespace {

// Paths on disk are formed from the root as given; the stored paths from its
// absolute form, which the plain names below it keep normalised.
struct FolderPath {
  std::string on_disk;
  std::string absolute;

  FolderPath child(const std::string& name) const {
    return {common::path_join(on_disk, name), common::path_join(absolute, name)};
  }
};

void collect_sub_folder(const FolderPath& folder, const ExtensionFilter& filter,
                        std::vector<std::string>& files) {
  for (const common::DirectoryEntry& entry : common::list_directory(folder.on_disk)) {
    if (entry.kind == common::EntryKind::kRegularFile && filter.accepts(entry.name)) {
      files.push_back(common::path_join(folder.absolute, entry.name));
    }
  }
}

std::vector<std::string> speaker_files(const FolderPath& speaker, const ExtensionFilter& filter) {
  std::vector<std::string> files;
  for (const common::DirectoryEntry& entry : common::list_directory(speaker.on_disk)) {
    if (entry.kind == common::EntryKind::kDirectory) {
      collect_sub_folder(speaker.child(entry.name), filter, files);
    } else if (entry.kind == common::EntryKind::kRegularFile && filter.accepts(entry.name)) {
      files.push_back(common::path_join(speaker.absolute, entry.name));
    }
  }
  return files;
}

}  // namespace

CombinedIds combined_ids(std::string_view strategy) {
  if (strategy == "prefix") return CombinedIds::kPrefixed;
  if (strategy == "merge") return CombinedIds::kMerged;
  throw common::ValueError("strategy must be one of 'prefix','merge'");
}

void merge_speaker_paths(std::vector<std::string>& stored, std::vector<std::string> added) {
  stored.insert(stored.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
  common::sort_unique_by_text(stored);
}

std::vector<SpeakerFiles> index_speakers(const std::string& root, const ExtensionFilter& filter,
                                         common::WorkingDirectory& cwd) {
  std::vector<SpeakerFiles> speakers;
  if (common::entry_kind(root) != common::EntryKind::kDirectory) return speakers;
  const FolderPath top{root, common::absolute_path(root, cwd)};
  std::unordered_map<std::string, size_t> position;
  for (const common::DirectoryEntry& subset : common::list_directory(root)) {
    if (subset.kind != common::EntryKind::kDirectory) continue;
    const FolderPath subset_path = top.child(subset.name);
    for (const common::DirectoryEntry& speaker : common::list_directory(subset_path.on_disk)) {
      if (speaker.kind != common::EntryKind::kDirectory) continue;
      std::vector<std::string> files = speaker_files(subset_path.child(speaker.name), filter);
      if (files.empty()) continue;
      common::sort_unique_by_text(files);
      const auto found = position.find(speaker.name);
      if (found == position.end()) {
        position.emplace(speaker.name, speakers.size());
        speakers.push_back({speaker.name, std::move(files)});
      } else {
        merge_speaker_paths(speakers[found->second].paths, std::move(files));
      }
    }
  }
  return speakers;
}

}  // namespace speech::corpus
