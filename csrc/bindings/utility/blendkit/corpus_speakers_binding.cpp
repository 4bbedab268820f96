// find_audio_files_by_speaker and combine_speaker_mappings.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/utility/blendkit/corpus_parts.h"
#include "bindings/utility/blendkit/corpus_text_edge.h"
#include "common/file_kind.h"
#include "common/text_order.h"
#include "common/lexical_path.h"
#include "corpus/speaker_index.h"
#include "pyutil/fs_path.h"
#include "pyutil/unpack_pair.h"

namespace py = pybind11;

namespace speech::corpus {
namespace {

// The strategy as the core names it; a value that is no text names none.
CombinedIds strategy_of(const py::object& strategy) {
  return combined_ids(PyUnicode_Check(strategy.ptr()) ? order_key(strategy) : std::string());
}

// Paths of an input list made absolute as order keys: the text itself is
// normalised, so any text a caller passes survives the round trip.
class KeyPaths {
 public:
  std::vector<std::string> absolute(const py::handle& files) {
    std::vector<std::string> keys;
    for (const py::handle file : py::reinterpret_borrow<py::object>(files)) {
      keys.push_back(common::absolute_order_key(order_key(text_path(file)), cwd_));
    }
    common::sort_unique_by_text(keys);
    return keys;
  }

 private:
  static py::object text_path(const py::handle& file) {
    const py::object text = PyUnicode_Check(file.ptr())
                                ? py::reinterpret_borrow<py::object>(file)
                                : blendkit_attr("os").attr("path").attr("abspath")(file);
    if (!PyUnicode_Check(text.ptr())) throw py::type_error("speaker file paths must be text");
    return text;
  }

  common::WorkingDirectory cwd_;
};

py::object text_of(const py::handle& value) {
  if (PyUnicode_Check(value.ptr())) return py::reinterpret_borrow<py::object>(value);
  return py::str(value);
}

py::list texts_from_keys(const std::vector<std::string>& keys) {
  py::list texts(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) texts[i] = text_from_order_key(keys[i]);
  return texts;
}

}  // namespace

py::dict find_audio_files_by_speaker(const py::object& root, const py::object& exts) {
  const std::optional<std::string> root_bytes = pyutil::try_fs_encode(path_text(root, "root"));
  if (!root_bytes || !common::is_directory(*root_bytes)) return py::dict();
  const ExtensionFilter filter = extension_filter_from(exts);
  common::WorkingDirectory cwd;
  py::dict speakers;
  for (const SpeakerFiles& speaker : index_speakers(*root_bytes, filter, cwd)) {
    speakers[pyutil::fs_decode(speaker.id)] = pyutil::fs_decode_each(speaker.paths);
  }
  return speakers;
}

py::dict combine_speaker_mappings(const py::object& mappings, const py::object& strategy) {
  const bool prefix = strategy_of(strategy) == CombinedIds::kPrefixed;
  KeyPaths paths;
  py::dict position;  // key -> index, with the interpreter's key equality
  std::vector<py::object> keys;
  std::vector<std::vector<std::string>> lists;
  const py::str joiner("_");
  for (const py::handle label_and_map : mappings.attr("items")()) {
    const auto [label, speaker_map] = pyutil::unpack_pair(label_and_map);
    for (const py::handle speaker_and_files : speaker_map.attr("items")()) {
      const auto [speaker, file_list] = pyutil::unpack_pair(speaker_and_files);
      std::vector<std::string> files = paths.absolute(file_list);
      const py::object key = prefix ? text_of(label) + joiner + text_of(speaker) : speaker;
      if (position.contains(key)) {
        merge_speaker_paths(lists[position[key].cast<size_t>()], std::move(files));
      } else {
        position[key] = py::int_(keys.size());
        keys.push_back(key);
        lists.push_back(std::move(files));
      }
    }
  }
  py::dict combined;
  for (size_t i = 0; i < keys.size(); ++i) combined[keys[i]] = texts_from_keys(lists[i]);
  return combined;
}

}  // namespace speech::corpus
