// SpeakerTracker: construction, the global speaker store and cosine_similarity.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "bindings/leadvoice/module_lookup.h"
#include "bindings/leadvoice/registration.h"
#include "bindings/leadvoice/tracker_parts.h"
#include "common/errors.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"
#include "tracker/speaker_matching.h"

namespace py = pybind11;

namespace speech {
namespace {

const char* const kClassDoc = "\n    说话人追踪器：基于WeSpeaker的说话人嵌入进行跨片段说话人匹配\n    ";

const char* const kInitDoc =
    "初始化说话人追踪器\n\n        Args:\n"
    "            wespeaker_model: WeSpeaker模型名称\n"
    "            similarity_threshold: 说话人匹配的相似度阈值\n"
    "            sample_rate: 采样率\n"
    "            device: 设备\n"
    "            embedding_update_strategy: 更新策略\n"
    "            ema_alpha: EMA更新时新embedding的权重\n"
    "            max_embedding_history: 保留的历史embedding数量\n"
    "            max_inter_sisdr_for_update: 与其他分离信号的最大SI-SDR阈值，超过则不更新embedding\n"
    "                                       （SI-SDR高说明与其他信号相似，分离不干净）\n"
    "            low_similarity_threshold: 低质量信号的匹配阈值，低于此阈值才放弃匹配\n"
    "        ";

const char* const kInitFirstDoc =
    "初始化第一个片段的说话人ID\n\n        Args:\n"
    "            embeddings: 第一个片段的说话人嵌入列表\n\n        Returns:\n"
    "            global_ids: 全局说话人ID列表\n        ";

void bind_store(py::object& self) {
  self.attr("global_speaker_embeddings") = py::dict();
  self.attr("global_speaker_embedding_history") = py::dict();
  self.attr("num_global_speakers") = py::int_(0);
}

void tracker_init(py::object self, py::object wespeaker_model, py::object similarity_threshold,
                  py::object sample_rate, py::object device, py::object embedding_update_strategy,
                  py::object ema_alpha, py::object max_embedding_history, py::object max_inter_sisdr_for_update,
                  py::object low_similarity_threshold, py::object short_speech_duration,
                  py::object short_speech_threshold_drop) {
  self.attr("similarity_threshold") = similarity_threshold;
  self.attr("sample_rate") = sample_rate;
  self.attr("device") = device;
  self.attr("embedding_update_strategy") = embedding_update_strategy;
  self.attr("ema_alpha") = ema_alpha;
  self.attr("max_embedding_history") = max_embedding_history;
  self.attr("max_inter_sisdr_for_update") = max_inter_sisdr_for_update;
  self.attr("low_similarity_threshold") = low_similarity_threshold;
  self.attr("short_speech_duration") = short_speech_duration;
  self.attr("short_speech_threshold_drop") = short_speech_threshold_drop;
  // int() of the product, as the interpreter truncates toward zero.
  const py::object product = short_speech_duration * sample_rate;
  self.attr("short_speech_samples") = py::int_(product);

  pyutil::py_print("正在加载WeSpeaker模型: " + pyutil::py_str(wespeaker_model));
  py::object model = leadvoice_attr("wespeaker").attr("load_model")(wespeaker_model);
  self.attr("wespeaker") = model;
  model.attr("set_device")(self.attr("device"));
  model.attr("set_vad")(false);
  model.attr("set_window_type")("hanning");
  bind_store(self);
}

// Any iterable, taken once.
py::list initialize_first_segment(py::object self, py::object embeddings) {
  const py::list items(embeddings);
  std::vector<bool> has_embedding;
  for (const py::handle embedding : items) has_embedding.push_back(is_usable_embedding(embedding));
  py::list ids;
  for (const int64_t id : tracker::first_segment_ids(has_embedding, [&](int64_t k) {
         return create_speaker(self, items[static_cast<size_t>(k)]).cast<int64_t>();
       })) {
    ids.append(py::int_(id));
  }
  return ids;
}

double cosine_similarity_py(py::object emb1, py::object emb2) {
  return tracker::cosine_similarity(embedding_values(emb1), embedding_values(emb2));
}

}  // namespace

tracker::Vector embedding_values(const py::handle& embedding) {
  const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(embedding);
  if (!values) {
    PyErr_Clear();
    throw common::TypeError("embedding must be a numeric array, got " + pyutil::py_str(py::type::of(embedding)));
  }
  return tracker::Vector(values.data(), values.data() + values.size());
}

py::array embedding_array(const tracker::Vector& values, const py::handle& like, const py::dtype& dtype) {
  py::array_t<double> out(static_cast<py::ssize_t>(values.size()), values.data());
  py::object shaped = out;
  const py::object like_array = py::module_::import("numpy").attr("asarray")(like);
  if (py::cast<py::ssize_t>(like_array.attr("size")) == static_cast<py::ssize_t>(values.size())) {
    shaped = out.attr("reshape")(like_array.attr("shape"));
  }
  return shaped.attr("astype")(dtype);
}

bool is_usable_embedding(const py::handle& embedding) {
  if (embedding.is_none()) return false;
  return tracker::all_finite(embedding_values(embedding));
}

py::object create_speaker(const py::handle& self, const py::handle& embedding) {
  py::object new_id = self.attr("num_global_speakers");
  self.attr("num_global_speakers") = new_id + py::int_(1);
  self.attr("global_speaker_embeddings")[new_id] = embedding;
  return new_id;
}

void bind_tracker(py::module_& m) {
  pyutil::PlainClass cls(m, "SpeakerTracker", kClassDoc);
  cls.def("__init__", &tracker_init, py::arg("wespeaker_model") = "chinese", py::arg("similarity_threshold") = 0.6,
          py::arg("sample_rate") = 16000, py::arg("device") = "cpu",
          py::arg("embedding_update_strategy") = "ema_with_history", py::arg("ema_alpha") = 0.3,
          py::arg("max_embedding_history") = 40, py::arg("max_inter_sisdr_for_update") = -10.0,
          py::arg("low_similarity_threshold") = 0.22, py::arg("short_speech_duration") = 0.8,
          py::arg("short_speech_threshold_drop") = 0.05, py::doc(kInitDoc));
  define_embedding_extraction(cls);
  define_speaker_matching(cls);
  cls.def("initialize_first_segment", &initialize_first_segment, py::arg("embeddings"), py::doc(kInitFirstDoc));
  cls.def(
      "reset", [](py::object self) { bind_store(self); }, py::doc("重置追踪器状态"));
  define_embedding_update(cls);

  pyutil::def_function(m, "cosine_similarity", &cosine_similarity_py, py::arg("emb1"), py::arg("emb2"),
                       "计算两个embedding的余弦相似度");
}

}  // namespace speech
