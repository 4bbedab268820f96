#pragma once
// Impulse-response files filed by room type and room: the names of the
// grandparent and parent directories of each path.
#include <string>
#include <vector>

namespace speech::corpus {

struct Room {
  std::string name;
  std::vector<std::string> paths;
};

struct RoomType {
  std::string name;
  std::vector<Room> rooms;
};

// `paths` are absolute, unique and in text order; types and rooms come in the
// order of their first path, and "unknown_type" / "unknown_room" stand for an
// empty directory name.
std::vector<RoomType> group_by_room(const std::vector<std::string>& paths);

}  // namespace speech::corpus
