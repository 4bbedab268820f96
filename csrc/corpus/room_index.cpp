#include "corpus/room_index.h"

#include <string_view>
#include <unordered_map>

#include "common/lexical_path.h"

namespace speech::corpus {
namespace {

std::string name_or(std::string_view name, const char* fallback) {
  return name.empty() ? std::string(fallback) : std::string(name);
}

template <typename T>
T& slot(std::vector<T>& items, std::unordered_map<std::string, size_t>& position, const std::string& name) {
  const auto found = position.find(name);
  if (found != position.end()) return items[found->second];
  position.emplace(name, items.size());
  items.push_back(T{name, {}});
  return items.back();
}

}  // namespace

std::vector<RoomType> group_by_room(const std::vector<std::string>& paths) {
  std::vector<RoomType> types;
  std::unordered_map<std::string, size_t> type_position;
  std::unordered_map<std::string, std::unordered_map<std::string, size_t>> room_position;
  for (const std::string& path : paths) {
    const std::string_view parent = common::path_dirname(path);
    const std::string_view grandparent = common::path_dirname(parent);
    const std::string type_name = name_or(common::path_basename(grandparent), "unknown_type");
    const std::string room_name = name_or(common::path_basename(parent), "unknown_room");
    RoomType& type = slot(types, type_position, type_name);
    slot(type.rooms, room_position[type_name], room_name).paths.push_back(path);
  }
  return types;
}

}  // namespace speech::corpus
