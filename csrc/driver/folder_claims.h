#pragma once
// Output folders that entries of one run have written into, each with the
// entry that did. A later entry whose folder is taken would overwrite files
// that the earlier entry's results point to, so the drivers refuse it.
// Folders compare by their canonical path, so two spellings of one folder
// are one claim.
#include <map>
#include <string>
#include <utility>

#include "driver/output_folder.h"

namespace speech::driver {

template <typename Owner>
class FolderClaims {
 public:
  // The entry that claimed `folder` (any spelling of it), or null.
  const Owner* owner_of(const std::string& folder) const {
    const auto found = owners_.find(canonical_folder(folder));
    return found == owners_.end() ? nullptr : &found->second;
  }

  // The first claim of a folder stands.
  void claim(const std::string& folder, Owner owner) { owners_.emplace(canonical_folder(folder), std::move(owner)); }

 private:
  std::map<std::string, Owner> owners_;
};

}  // namespace speech::driver
