#pragma once
// The one rule every output of a run keeps: an output path is none of the
// run's inputs and none of its other outputs, under any spelling. "The
// same file" is one notion here (file_place.h): the same existing file, or
// the same place for one that does not exist yet, through links, bind
// mounts and folders not made yet.
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_place.h"

namespace speech::common {

// Which names of a folder a run writes or removes there.
using OwnedNames = std::function<bool(std::string_view name)>;

class OutputPath {
 public:
  explicit OutputPath(const std::string& path);

  // Whether `other` (an input, or another output) leads where this output
  // does.
  bool is(const std::string& other) const { return place_of(other) == place_; }

  // The path of the file of `folder` that this output is or would be, where
  // `owned` takes that file's name: the output's own folder and name, or,
  // for an output with other hard links, an owned file of the folder that is
  // the same file. Nothing when the output is no such file.
  std::optional<std::string> file_in(const std::string& folder, const OwnedNames& owned) const;

  // Whether `file_in` can find anything at all for these names, whatever
  // the folder: a caller with many folders asks this first.
  bool may_be_owned(const OwnedNames& owned) const { return has_other_links_ || owned(slot_.name); }

 private:
  std::optional<std::string> hard_link_in(const std::string& folder, const OwnedNames& owned) const;

  FilePlace place_;
  FileSlot slot_;
  bool has_other_links_ = false;
};

// The folders of a run's recordings or utterances, each getting the files
// that `owned` takes, asked whether an input of the run is one of those
// files: the run would overwrite or remove it. Only an input that exists
// can be lost, and only a folder that exists can hold it, so one look at
// each folder and each input serves any number of both. An input that is
// another hard link of a folder's file is left alone: the folders' files
// are replaced or removed, which leaves its name and content as they were
// (only a log is rewritten in place, and an input read as audio is no
// log).
class OutputFolders {
 public:
  OutputFolders(std::vector<std::string> folders, OwnedNames owned);

  struct Holder {
    size_t folder = 0;  // the first folder, in the order given, that holds it
    std::string path;   // that folder's file
  };
  std::optional<Holder> holder_of(const std::string& input) const;

 private:
  std::vector<std::string> folders_;
  OwnedNames owned_;
  std::map<FileIdentity, size_t> existing_;  // folder -> its first index
};

}  // namespace speech::common
