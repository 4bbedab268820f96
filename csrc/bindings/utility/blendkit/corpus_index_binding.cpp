// The corpus indexers. Their `exts` default is the AUDIO_EXTS object bound
// when the functions are defined; a later rebinding of the package's name
// does not change it.
#include "bindings/utility/blendkit/corpus_parts.h"
#include "bindings/utility/blendkit/registration.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {

void bind_corpus_index(py::module_& m) {
  pyutil::def_function(m, "collect_files", &corpus::collect_files, "根据 glob 模式集合返回文件列表（去重并排序）",
                       py::arg("patterns"));
  pyutil::def_function(m, "collect_rir_hierarchy", &corpus::collect_rir_hierarchy,
                       "按目录层次构造 rir_map: {room_type: {room_name: [files]}}", py::arg("patterns"),
                       py::arg("exts") = m.attr("AUDIO_EXTS"));
  pyutil::def_function(m, "find_audio_files_by_speaker", &corpus::find_audio_files_by_speaker, py::arg("root"),
                       py::arg("exts") = m.attr("AUDIO_EXTS"));
  pyutil::def_function(m, "combine_speaker_mappings", &corpus::combine_speaker_mappings, py::arg("mappings"),
                       py::arg("strategy") = "prefix");
}

}  // namespace speech
