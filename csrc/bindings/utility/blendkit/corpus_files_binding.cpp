// collect_files and collect_rir_hierarchy: pattern expansion is the
// interpreter's glob module (looked up on the package at call time); walking,
// testing, normalising and ordering are the core's. Both keep regular files
// only (links followed), as the speaker index does.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "bindings/utility/blendkit/corpus_parts.h"
#include "bindings/utility/blendkit/corpus_text_edge.h"
#include "corpus/directory_listing.h"
#include "corpus/lexical_path.h"
#include "corpus/room_index.h"
#include "corpus/text_order.h"
#include "corpus/tree_walk.h"

namespace py = pybind11;

namespace speech::corpus {
namespace {

bool all_texts(const py::list& items) {
  for (const py::handle item : items) {
    if (!PyUnicode_Check(item.ptr())) return false;
  }
  return true;
}

// Distinct texts in text order; anything else is left to the interpreter's
// own sorted(), with its own errors.
py::list unique_sorted(const py::list& items) {
  if (!all_texts(items)) {
    return py::module_::import("builtins").attr("sorted")(py::module_::import("builtins").attr("dict").attr("fromkeys")(items));
  }
  std::vector<std::pair<std::string, py::object>> keyed;
  keyed.reserve(items.size());
  for (const py::handle item : items) keyed.emplace_back(order_key(item), py::reinterpret_borrow<py::object>(item));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  py::list result;
  for (size_t i = 0; i < keyed.size(); ++i) {
    if (i == 0 || keyed[i].first != keyed[i - 1].first) result.append(keyed[i].second);
  }
  return result;
}

// Noise files are read whole: a matched folder, broken link, FIFO or device
// is no noise, and reading a FIFO would block the stream for ever. A text
// that no file name can hold names no file.
bool names_regular_file(const py::handle& match) {
  std::optional<std::string> bytes;
  if (PyUnicode_Check(match.ptr())) bytes = file_system_bytes(match);
  if (PyBytes_Check(match.ptr())) bytes = py::reinterpret_borrow<py::bytes>(match).cast<std::string>();
  return bytes && is_regular_file(*bytes);
}

class RirCollector {
 public:
  explicit RirCollector(const py::object& exts) : test_(extension_test_from(exts)) {}

  void add(const py::handle& pattern) {
    const py::str text = path_text(pattern, "collect_rir_hierarchy pattern");
    const std::optional<std::string> bytes = file_system_bytes(text);
    if (bytes && bytes->find('\0') == std::string::npos) {
      const EntryKind kind = entry_kind(*bytes);
      if (kind == EntryKind::kDirectory) return add_tree(*bytes);
      if (kind == EntryKind::kRegularFile) return add_file(*bytes);
    }
    add_matches(text);
  }

  std::vector<std::string> take_files() {
    sort_unique_by_text(files_);
    return std::move(files_);
  }

 private:
  void add_tree(const std::string& top) {
    walk_regular_files(top, [this](const std::string& dir, const std::string& name) {
      if (test_.accepts_name(name)) files_.push_back(absolute_path(path_join(dir, name), cwd_));
    });
  }

  void add_file(const std::string& path) {
    if (test_.accepts_path(path)) files_.push_back(absolute_path(path, cwd_));
  }

  void add_matches(const py::str& pattern) {
    const py::object matches = blendkit_attr("glob").attr("glob")(pattern, py::arg("recursive") = true);
    for (const py::handle match : matches) {
      const std::optional<std::string> bytes = PyUnicode_Check(match.ptr()) ? file_system_bytes(match) : std::nullopt;
      if (bytes && is_regular_file(*bytes)) add_file(*bytes);
    }
  }

  ExtensionTest test_;
  WorkingDirectory cwd_;
  std::vector<std::string> files_;
};

py::dict rir_map_from(const std::vector<RoomType>& types) {
  py::dict rir_map;
  for (const RoomType& type : types) {
    py::dict rooms;
    for (const Room& room : type.rooms) rooms[text_from_file_system(room.name)] = texts_from_file_system(room.paths);
    rir_map[text_from_file_system(type.name)] = rooms;
  }
  return rir_map;
}

}  // namespace

py::list collect_files(const py::object& patterns) {
  if (!py::bool_(patterns)) return py::list();
  const py::object glob = blendkit_attr("glob").attr("glob");
  py::list files;
  for (const py::handle pattern : patterns) {
    for (const py::handle match : glob(pattern)) {
      if (names_regular_file(match)) files.append(match);
    }
  }
  return unique_sorted(files);
}

py::dict collect_rir_hierarchy(const py::object& patterns, const py::object& exts) {
  if (!py::bool_(patterns)) return py::dict();
  RirCollector collector(exts);
  try {
    for (const py::handle pattern : patterns) {
      if (!pattern.is_none()) collector.add(pattern);
    }
    return rir_map_from(group_by_room(collector.take_files()));
  } catch (const OsCallError& error) {
    raise_os_error(error);
  }
}

}  // namespace speech::corpus
