// CSSProcessor: its constructor and fields, and the frame of process():
// window count, tracker reset, the no-gradient window loop and stitching.
#include <ATen/ATen.h>
#include <pybind11/pybind11.h>

#include "bindings/leadvoice/css_parts.h"
#include "common/errors.h"
#include "css/messages.h"
#include "css/windowing.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

const char* const kInitDoc =
    "初始化CSS处理器\n\n        Args:\n"
    "            separation_model: 分离模型\n"
    "            speaker_tracker: 说话人追踪器\n"
    "            max_speakers: 最大说话人数\n"
    "            seg_duration: 片段时长(秒)\n"
    "            hop_duration: 滑动步长(秒)\n"
    "            sample_rate: 采样率\n"
    "            sisdr_threshold: 判断有效说话人的SI-SDR阈值\n"
    "            sisdr_threshold_prev: 判断有效说话人的SI-SDR阈值（与前一个分离信号比较）\n"
    "            merge_threshold: 信号合并的embedding相似度阈值\n"
    "            device: 设备\n"
    "            segments_save_dir: 分离片段保存目录\n"
    "        ";

// int(seconds * rate) with the interpreter's arithmetic: an int product
// stays exact, a float one is truncated toward zero.
py::object samples_of(const py::object& seconds, const py::object& rate) {
  return py::module_::import("builtins").attr("int")(seconds * rate);
}

void processor_init(py::object self, py::object separation_model, py::object speaker_tracker,
                    py::object max_speakers, py::object seg_duration, py::object hop_duration,
                    py::object sample_rate, py::object sisdr_threshold, py::object sisdr_threshold_prev,
                    py::object merge_threshold, py::object device, py::object segments_save_dir,
                    py::object padding_samples) {
  self.attr("separation_model") = separation_model;
  self.attr("speaker_tracker") = speaker_tracker;
  self.attr("max_speakers") = max_speakers;
  self.attr("seg_duration") = seg_duration;
  self.attr("hop_duration") = hop_duration;
  self.attr("sample_rate") = sample_rate;
  self.attr("sisdr_threshold") = sisdr_threshold;
  self.attr("sisdr_threshold_prev") = sisdr_threshold_prev;
  self.attr("merge_threshold") = merge_threshold;
  self.attr("device") = device;
  self.attr("segments_save_dir") = segments_save_dir;
  // The argument is in seconds; the field holds samples.
  self.attr("padding_samples") = samples_of(padding_samples, sample_rate);
  self.attr("seg_samples") = samples_of(seg_duration, sample_rate);
  self.attr("hop_samples") = samples_of(hop_duration, sample_rate);
}

int64_t index_value(const py::handle& value) {
  return py::module_::import("operator").attr("index")(value).cast<int64_t>();
}

ProcessorSettings read_settings(const py::handle& self) {
  ProcessorSettings s;
  s.separation_model = self.attr("separation_model");
  s.speaker_tracker = self.attr("speaker_tracker");
  s.max_speakers_obj = self.attr("max_speakers");
  s.merge_threshold_obj = self.attr("merge_threshold");
  s.segments_save_dir = self.attr("segments_save_dir");
  s.max_speakers = index_value(s.max_speakers_obj);
  s.seg_samples = index_value(self.attr("seg_samples"));
  s.hop_samples = index_value(self.attr("hop_samples"));
  s.padding_samples = index_value(self.attr("padding_samples"));
  const py::object rate = self.attr("sample_rate");
  s.sample_rate = rate.cast<double>();
  s.wav_sample_rate = static_cast<int>(s.sample_rate);
  s.sisdr_threshold = self.attr("sisdr_threshold").cast<double>();
  s.sisdr_threshold_prev = self.attr("sisdr_threshold_prev").cast<double>();
  s.merge_threshold = s.merge_threshold_obj.cast<double>();
  s.device = py::module_::import("torch").attr("device")(self.attr("device")).cast<at::Device>();
  return s;
}

Recording borrow_recording(const py::object& mix) {
  if (!py::isinstance<py::array>(mix)) {
    throw common::TypeError("mix must be a 1-D NumPy array, got " + pyutil::type_name(mix));
  }
  const auto array = py::reinterpret_borrow<py::array>(mix);
  return Recording{pyutil::float_samples_of(array, "mix"), static_cast<int64_t>(array.shape(0))};
}

py::tuple process(py::object self, py::object mix) {
  const int64_t total_samples = static_cast<int64_t>(py::len(mix));
  const ProcessorSettings settings = read_settings(self);
  const int64_t num_segments = css::count_windows(total_samples, settings.seg_samples, settings.hop_samples);
  RecordingState state;
  settings.speaker_tracker.attr("reset")();
  pyutil::py_print(css::segment_count_line(num_segments));
  if (num_segments > 0) {
    css::check_window_layout(settings.seg_samples, settings.hop_samples, settings.padding_samples);
    const Recording recording = borrow_recording(mix);
    const at::NoGradGuard no_grad;
    for (int64_t seg_idx = 0; seg_idx < num_segments; ++seg_idx) {
      SeparatedWindow window = separate_window(settings, recording, seg_idx, num_segments, *state.pool);
      assign_window(settings, recording, window, state);
    }
  }
  const py::object global_streams =
      self.attr("_stitch_global_streams")(state.segment_results, py::int_(total_samples));
  return py::make_tuple(global_streams, state.segment_results);
}

}  // namespace

void define_processor(pyutil::PlainClass& cls) {
  cls.def("__init__", &processor_init, py::arg("separation_model"), py::arg("speaker_tracker"),
          py::arg("max_speakers") = 4, py::arg("seg_duration") = 2.4, py::arg("hop_duration") = 1.2,
          py::arg("sample_rate") = 16000, py::arg("sisdr_threshold") = 10.0, py::arg("sisdr_threshold_prev") = -10.0,
          py::arg("merge_threshold") = 0.7, py::arg("device") = "cpu", py::arg("segments_save_dir") = py::none(),
          py::arg("padding_samples") = 0.6, py::doc(kInitDoc));
  cls.def("process", &process, py::arg("mix"), py::doc("处理完整的混合音频"));
}

}  // namespace speech::css_binding
