// collect_files and collect_rir_hierarchy: pattern expansion is the
// interpreter's glob module (looked up on the package at call time); what a
// pattern stands for, which files are kept, and their order are the core's.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "bindings/utility/blendkit/corpus_parts.h"
#include "bindings/utility/blendkit/corpus_text_edge.h"
#include "common/file_kind.h"
#include "common/text_order.h"
#include "corpus/impulse_response_files.h"
#include "pyutil/fs_path.h"

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
    const py::module_ builtins = py::module_::import("builtins");
    return builtins.attr("sorted")(builtins.attr("dict").attr("fromkeys")(items));
  }
  std::vector<std::string> keys;
  keys.reserve(items.size());
  for (const py::handle item : items) keys.push_back(order_key(item));
  py::list result;
  for (const size_t i : common::distinct_in_key_order(keys)) result.append(items[i]);
  return result;
}

// Noise files are read whole: a matched folder, broken link, FIFO or device
// is no noise, and reading a FIFO would block the stream for ever. A text
// that no file name can hold names no file.
bool names_regular_file(const py::handle& match) {
  std::optional<std::string> bytes;
  if (PyUnicode_Check(match.ptr()) || PyBytes_Check(match.ptr())) bytes = pyutil::try_fs_encode(match);
  return bytes && common::is_regular_file(*bytes);
}

void add_pattern(ImpulseResponseFiles& files, const py::handle& pattern) {
  const py::str text = path_text(pattern, "collect_rir_hierarchy pattern");
  const std::optional<std::string> bytes = pyutil::try_fs_encode(text);
  if (bytes && files.add_path(*bytes)) return;
  for (const py::handle match : blendkit_attr("glob").attr("glob")(text, py::arg("recursive") = true)) {
    if (!PyUnicode_Check(match.ptr())) continue;
    if (const std::optional<std::string> match_bytes = pyutil::try_fs_encode(match)) files.add_match(*match_bytes);
  }
}

py::dict rir_map_from(const std::vector<RoomType>& types) {
  py::dict rir_map;
  for (const RoomType& type : types) {
    py::dict rooms;
    for (const Room& room : type.rooms) rooms[pyutil::fs_decode(room.name)] = pyutil::fs_decode_each(room.paths);
    rir_map[pyutil::fs_decode(type.name)] = rooms;
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
  ImpulseResponseFiles files(extension_filter_from(exts));
  for (const py::handle pattern : patterns) {
    if (!pattern.is_none()) add_pattern(files, pattern);
  }
  return rir_map_from(files.rooms());
}

}  // namespace speech::corpus
