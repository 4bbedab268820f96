// run_separation_and_save: one admitted utterance through its processor, the
// main speaker chosen by leadvoice's rule, every stream written as a wav in
// the utterance's folder (cleared first of the streams an earlier run left
// there), and the paths returned in write order. Paths are handled as
// file-system bytes.
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/driver_steps/mono_wav.h"
#include "bindings/triageflow/interpreter_ops.h"
#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/registration.h"
#include "common/os_path.h"
#include "driver/stream_files.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"
#include "triage/messages.h"
#include "triage/utterance_folder.h"

namespace py = pybind11;

namespace speech {
namespace {

// Every stream but the main one, numbered from 1 in iteration order.
void write_others(const py::object& global_streams, const py::object& main_gid, const std::string& folder,
                  const py::object& sr, py::dict& result) {
  size_t other_idx = 1;
  for (const py::handle item : global_streams.attr("items")()) {
    const py::object gid = item[py::int_(0)];
    if (!main_gid.is_none() && gid.equal(main_gid)) continue;
    const std::string other_path = common::path_join(folder, triage::other_speaker_file(pyutil::py_str(gid)));
    write_mono_wav(kTriagePackage, other_path, item[py::int_(1)], sr, "stream");
    result[py::str(triage::other_speaker_key(other_idx))] = pyutil::fs_decode(other_path);
    ++other_idx;
  }
}

py::dict run_separation_and_save(const py::object& utt_id, const py::object& wav_path, const py::object& audio_16k,
                                 const py::object& sr, const py::object& save_dir, const py::object& css_processor) {
  const std::string id = pyutil::fs_encode(utt_id);
  const std::string root = pyutil::fs_encode(save_dir);
  const std::string utt_save_dir = triage::utterance_folder_path(root, id);
  triage_attr("ensure_dir")(pyutil::fs_decode(utt_save_dir));
  const std::vector<std::string> stale = driver::remove_stream_files(utt_save_dir);
  if (!stale.empty()) pyutil::py_print(driver::stale_streams_removed_line(utt_save_dir, stale.size()));
  const double duration = true_divide(py::int_(py::len(audio_16k)), sr);
  pyutil::py_print(triage::separation_start_line(id, pyutil::fs_encode(wav_path), duration));

  const py::object global_streams = pyutil::unpack_pair(css_processor.attr("process")(audio_16k)).first;
  pyutil::py_print(triage::separation_done_line(py::len(global_streams)));
  const py::object main_gid = triage_attr("select_main_channel")(global_streams, py::arg("sample_rate") = sr);

  py::dict result;
  if (main_gid.is_none()) {
    pyutil::py_print(triage::kNoMainChannelWarning);
  } else {
    const std::string main_path = common::path_join(utt_save_dir, triage::main_speaker_file(pyutil::py_str(main_gid)));
    write_mono_wav(kTriagePackage, main_path, global_streams[main_gid], sr, "stream");
    result["main_spk_wav_path"] = pyutil::fs_decode(main_path);
    pyutil::py_print(triage::saved_main_line(main_path));
  }
  write_others(global_streams, main_gid, utt_save_dir, sr, result);
  return result;
}

}  // namespace

void define_separation(py::module_& m) {
  pyutil::def_function(m, "run_separation_and_save", &run_separation_and_save, py::arg("utt_id"), py::arg("wav_path"),
                       py::arg("audio_16k"), py::arg("sr"), py::arg("save_dir"), py::arg("css_processor"),
                       "分离一条音频并保存主说话人与其他说话人的 wav，返回各文件路径");
}

}  // namespace speech
