// SpeakerTracker.match_speakers_between_segments: the window's lists read
// into plain evidence, the tracker's store, cosine_similarity and
// linear_sum_assignment lent to the matching core as its collaborators.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/leadvoice/module_lookup.h"
#include "bindings/leadvoice/tracker_parts.h"
#include "common/errors.h"
#include "pyutil/py_print.h"
#include "tracker/speaker_matching.h"

namespace py = pybind11;

namespace speech {
namespace {

const char* const kDoc =
    "将当前片段的说话人与全局说话人库进行匹配\n\n        Args:\n"
    "            curr_embeddings: 当前片段的说话人嵌入列表\n"
    "            separation_quality: 分离质量列表（每个信号与其他信号的最大SI-SDR，越低越好）\n"
    "            speech_samples: 语音帧采样点数列表（用于自适应调整阈值）\n\n        Returns:\n"
    "            curr_global_ids: 当前片段说话人对应的全局ID列表\n"
    "            similarity_matrix: 相似度矩阵（当前说话人 x 全局说话人）\n        ";

// Entry k of an optional per-signal list: absent when the list is None or
// empty, or shorter than k + 1.
std::optional<py::object> entry_of(const py::object& values, py::ssize_t k) {
  if (!py::bool_(values)) return std::nullopt;
  if (k >= static_cast<py::ssize_t>(py::len(values))) return std::nullopt;
  return py::object(values[py::int_(k)]);
}

std::optional<double> number_entry(const py::object& values, py::ssize_t k) {
  if (const auto entry = entry_of(values, k)) return py::float_(*entry).cast<double>();
  return std::nullopt;
}

tracker::MatchSettings match_settings(const py::object& self) {
  tracker::MatchSettings s;
  s.max_inter_sisdr_for_update = py::float_(self.attr("max_inter_sisdr_for_update"));
  s.short_speech_samples = py::float_(self.attr("short_speech_samples"));
  s.similarity_threshold = py::float_(self.attr("similarity_threshold"));
  s.low_similarity_threshold = py::float_(self.attr("low_similarity_threshold"));
  s.short_speech_threshold_drop = py::float_(self.attr("short_speech_threshold_drop"));
  s.sample_rate = py::float_(self.attr("sample_rate"));
  return s;
}

// The speech lengths play no part while the store is empty, so they are
// not read then.
std::vector<tracker::SignalEvidence> window_evidence(const py::object& embeddings, const py::object& qualities,
                                                     const py::object& speech_samples, bool store_empty) {
  std::vector<tracker::SignalEvidence> evidence(static_cast<size_t>(py::len(embeddings)));
  for (size_t k = 0; k < evidence.size(); ++k) {
    const auto index = static_cast<py::ssize_t>(k);
    evidence[k].has_embedding = is_usable_embedding(embeddings[py::int_(index)]);
    evidence[k].quality_db = number_entry(qualities, index);
    if (!store_empty) evidence[k].speech_samples = number_entry(speech_samples, index);
  }
  return evidence;
}

// The interpreter-side collaborators of one call, looked up when it starts.
class TrackerCollaborators final : public tracker::MatchCollaborators {
 public:
  TrackerCollaborators(py::object self, py::object embeddings, py::object qualities, py::list stored)
      : self_(std::move(self)),
        embeddings_(std::move(embeddings)),
        qualities_(std::move(qualities)),
        stored_(std::move(stored)),
        cosine_(leadvoice_attr("cosine_similarity")) {}

  double similarity(int64_t signal, int64_t column) override {
    return py::float_(cosine_(embedding(signal), stored_[static_cast<size_t>(column)])).cast<double>();
  }

  std::vector<std::pair<int64_t, int64_t>> assign(const std::vector<double>& cost, int64_t rows,
                                                  int64_t columns) override {
    py::array_t<double> matrix({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)});
    std::copy(cost.begin(), cost.end(), matrix.mutable_data());
    const py::tuple pairs = leadvoice_attr("linear_sum_assignment")(matrix);
    const auto row_indices = py::array_t<int64_t, py::array::forcecast>::ensure(pairs[0]);
    const auto column_indices = py::array_t<int64_t, py::array::forcecast>::ensure(pairs[1]);
    if (!row_indices || !column_indices || row_indices.size() != column_indices.size()) {
      throw common::TypeError("linear_sum_assignment must give two integer index arrays of one length");
    }
    std::vector<std::pair<int64_t, int64_t>> result;
    for (py::ssize_t p = 0; p < row_indices.size(); ++p) result.emplace_back(row_indices.at(p), column_indices.at(p));
    return result;
  }

  // The quality goes as it was given (None when the signal has none).
  bool update_speaker(int64_t global_id, int64_t signal) override {
    const py::object quality = entry_of(qualities_, signal).value_or(py::none());
    return py::bool_(self_.attr("_update_embedding")(py::int_(global_id), embedding(signal), quality));
  }

  int64_t create_speaker(int64_t signal) override {
    return speech::create_speaker(self_, embedding(signal)).cast<int64_t>();
  }

  void report(const std::string& line) override { pyutil::py_print(line); }

 private:
  py::object embedding(int64_t signal) const { return embeddings_[py::int_(signal)]; }

  py::object self_;
  py::object embeddings_;
  py::object qualities_;
  py::list stored_;
  py::object cosine_;
};

py::tuple match_speakers(py::object self, py::object embeddings, py::object qualities, py::object speech_samples) {
  const py::object store = self.attr("global_speaker_embeddings");
  const py::list ids_sorted = py::module_::import("builtins").attr("sorted")(store.attr("keys")());
  pyutil::py_print(tracker::store_line(static_cast<int64_t>(py::len(store)), pyutil::py_str(ids_sorted)));
  const tracker::MatchSettings settings = match_settings(self);

  std::vector<int64_t> stored_ids;
  py::list stored;
  for (const py::handle id : ids_sorted) {
    stored_ids.push_back(id.cast<int64_t>());
    stored.append(store[id]);
  }
  const std::vector<tracker::SignalEvidence> evidence =
      window_evidence(embeddings, qualities, speech_samples, stored_ids.empty());
  // One-dimensional and empty while the store is empty.
  py::array_t<double> matrix = stored_ids.empty() ? py::array_t<double>(0)
                                                  : py::array_t<double>({static_cast<py::ssize_t>(evidence.size()),
                                                                         static_cast<py::ssize_t>(stored_ids.size())});
  TrackerCollaborators collaborators(self, embeddings, qualities, stored);
  const tracker::MatchResult result = tracker::match_signals(settings, evidence, stored_ids, collaborators);
  std::copy(result.similarities.begin(), result.similarities.end(), matrix.mutable_data());

  py::list ids;
  for (const int64_t id : result.global_ids) ids.append(py::int_(id));
  return py::make_tuple(ids, matrix);
}

}  // namespace

void define_speaker_matching(pyutil::PlainClass& cls) {
  cls.def("match_speakers_between_segments", &match_speakers, py::arg("curr_embeddings"),
          py::arg("separation_quality") = py::none(), py::arg("speech_samples") = py::none(), py::doc(kDoc));
}

}  // namespace speech
