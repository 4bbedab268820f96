#pragma once
// The impulse-response files a list of patterns names: a pattern that names
// a directory stands for every file of its tree, one that names a regular
// file for that file, and any other is a glob pattern whose regular-file
// matches count. Only files with an accepted extension are kept, made
// absolute, once each, in text order, and filed by room type and room.
#include <string>
#include <vector>

#include "corpus/extension_filter.h"
#include "common/lexical_path.h"
#include "corpus/room_index.h"

namespace speech::corpus {

class ImpulseResponseFiles {
 public:
  explicit ImpulseResponseFiles(ExtensionFilter filter) : filter_(std::move(filter)) {}

  // The files of a pattern that names a directory or a regular file: true.
  // False for any other pattern, which the caller expands as a glob and
  // hands on match by match.
  bool add_path(const std::string& pattern);
  // One glob match, kept when it is a regular file.
  void add_match(const std::string& match);

  std::vector<RoomType> rooms();

 private:
  void add_file(const std::string& path);

  ExtensionFilter filter_;
  common::WorkingDirectory cwd_;
  std::vector<std::string> files_;
};

}  // namespace speech::corpus
