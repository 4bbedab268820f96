// SpeakerTracker.extract_embedding_from_array: speech-gated embedding of one
// separated signal through a temporary wav file.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/leadvoice/module_lookup.h"
#include "bindings/leadvoice/tracker_parts.h"
#include "common/errors.h"
#include "common/wav_io.h"
#include "pyutil/fs_path.h"
#include "pyutil/numpy_view.h"
#include "pyutil/ordinary_errors.h"
#include "pyutil/py_print.h"
#include "pyutil/scope_guards.h"
#include "tracker/speech_detection.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace speech {
namespace {

const char* const kDoc =
    "从音频数组提取说话人嵌入（基于能量检测连续语音段，平滑拼接）\n\n        Args:\n"
    "            audio: 音频数组\n"
    "            min_speech_duration: 最小语音时长（秒）\n\n        Returns:\n"
    "            (embedding, speech_samples): 说话人嵌入与语音采样点数\n        ";

py::tuple no_embedding(int64_t speech_samples) { return py::make_tuple(py::none(), py::int_(speech_samples)); }

// Detected speech of the signal, joined, written as 16-bit PCM over the
// facility's empty file, beside it in the temporary folder.
template <typename T>
void write_joined_speech(common::SampleView<const T> signal, const tracker::SpeechDetection& detection,
                         const std::string& path, int sample_rate) {
  py::gil_scoped_release release;
  const std::vector<T> joined = tracker::join_ranges(signal, detection.ranges);
  common::write_wav(path, joined.data(), static_cast<int64_t>(joined.size()), 1, sample_rate);
}

// File-system bytes: the temporary folder may have a name that is not UTF-8.
// The file is closed at once, nothing written to it.
std::string make_temp_path() {
  const py::object file = leadvoice_attr("tempfile")
                              .attr("NamedTemporaryFile")("prefix"_a = "spk_emb_", "suffix"_a = ".wav", "delete"_a = false);
  const pyutil::ClosingFile closing(file);
  return pyutil::fs_encode(file.attr("name"));
}

void remove_if_exists(const std::string& path) {
  const py::object os = leadvoice_attr("os");
  const py::str text = pyutil::fs_decode(path);
  if (py::bool_(os.attr("path").attr("exists")(text))) os.attr("remove")(text);
}

// The model call and the checks of its result; an ordinary error is
// reported and turns into a result without an embedding.
py::tuple embed_file(const py::object& self, const std::string& path, int64_t speech_samples) {
  py::tuple result = no_embedding(0);
  const auto failure = pyutil::run_guarded([&] {
    const py::object raw = self.attr("wespeaker").attr("extract_embedding")(pyutil::fs_decode(path));
    const py::array embedding = py::module_::import("numpy").attr("array")(raw);
    if (embedding.dtype().kind() == 'O' || embedding.size() == 0) return;
    result = py::make_tuple(embedding, py::int_(speech_samples));
  });
  if (failure) pyutil::py_print("提取embedding失败: " + failure->text);
  return result;
}

template <typename T>
py::tuple extract(const py::object& self, const py::array& audio, int64_t min_speech_samples) {
  const pyutil::ArraySamples<T> samples(audio);
  tracker::SpeechDetection detection;
  {
    py::gil_scoped_release release;
    detection = tracker::detect_speech(samples.view());
  }
  const tracker::SpeechGate gate = tracker::gate_speech(detection, min_speech_samples);
  if (!gate.enough) return no_embedding(gate.speech_samples);

  const int sample_rate = py::int_(self.attr("sample_rate"));
  const std::string path = make_temp_path();
  write_joined_speech(samples.view(), detection, path, sample_rate);
  // Removed whichever way the model call ends. A failed write leaves the
  // empty file the temporary-file facility made (the write only ever
  // replaces it whole), keeping its private permissions.
  const pyutil::ScopeExit remove_temp([&path] { remove_if_exists(path); });
  return embed_file(self, path, gate.speech_samples);
}

py::tuple extract_embedding_from_array(py::object self, py::object audio, py::object min_speech_duration) {
  if (!py::isinstance<py::array>(audio)) {
    throw common::TypeError("audio must be a NumPy array, got " + pyutil::py_str(py::type::of(audio)));
  }
  const py::array array = py::reinterpret_borrow<py::array>(audio);
  const py::object product = min_speech_duration * self.attr("sample_rate");
  const int64_t min_speech_samples = py::int_(product);
  if (pyutil::float_kind_of(array, "audio") == pyutil::FloatKind::kFloat32) {
    return extract<float>(self, array, min_speech_samples);
  }
  return extract<double>(self, array, min_speech_samples);
}

}  // namespace

void define_embedding_extraction(pyutil::PlainClass& cls) {
  cls.def("extract_embedding_from_array", &extract_embedding_from_array, py::arg("audio"),
          py::arg("min_speech_duration") = 0.1, py::doc(kDoc));
}

}  // namespace speech
