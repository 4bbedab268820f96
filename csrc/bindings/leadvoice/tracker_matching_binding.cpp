// SpeakerTracker.match_speakers_between_segments: one window's embeddings
// against the global speaker store, by optimal assignment and a ladder of
// threshold tests.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "bindings/leadvoice/module_lookup.h"
#include "bindings/leadvoice/tracker_parts.h"
#include "pyutil/py_print.h"
#include "tracker/match_report.h"

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

// What the ladder needs to know of one signal.
struct SignalState {
  py::object quality = py::none();  // None when the signal has none
  bool low_quality = false;
  bool short_speech = false;
  Unreliability why;
  double similarity_threshold = 0.0;
  double low_similarity_threshold = 0.0;
  bool reliable() const { return !low_quality && !short_speech; }
};

struct TrackerSettings {
  py::object max_inter_sisdr;
  py::object short_speech_samples;
  double similarity_threshold;
  double low_similarity_threshold;
  double threshold_drop;
  double sample_rate;

  explicit TrackerSettings(const py::object& self)
      : max_inter_sisdr(self.attr("max_inter_sisdr_for_update")),
        short_speech_samples(self.attr("short_speech_samples")),
        similarity_threshold(py::float_(self.attr("similarity_threshold"))),
        low_similarity_threshold(py::float_(self.attr("low_similarity_threshold"))),
        threshold_drop(py::float_(self.attr("short_speech_threshold_drop"))),
        sample_rate(py::float_(self.attr("sample_rate"))) {}
};

SignalState signal_state(const TrackerSettings& settings, const py::object& qualities,
                         const py::object& speech_samples, py::ssize_t k) {
  SignalState state;
  if (const auto quality = entry_of(qualities, k)) {
    state.quality = *quality;
    state.low_quality = *quality > settings.max_inter_sisdr;
    if (state.low_quality) state.why.low_quality_db = py::float_(*quality).cast<double>();
  }
  if (const auto samples = entry_of(speech_samples, k)) {
    state.short_speech = *samples < settings.short_speech_samples;
    if (state.short_speech) {
      state.why.short_speech_seconds = py::float_(*samples).cast<double>() / settings.sample_rate;
    }
  }
  const double drop = state.short_speech ? settings.threshold_drop : 0.0;
  state.similarity_threshold = settings.similarity_threshold - drop;
  state.low_similarity_threshold = settings.low_similarity_threshold - drop;
  return state;
}

py::object sorted_ids(const py::object& store) {
  return py::module_::import("builtins").attr("sorted")(store.attr("keys")());
}

py::tuple match_empty_store(const py::object& self, const py::object& embeddings, const TrackerSettings& settings,
                            const py::object& qualities) {
  py::list ids;
  const py::ssize_t num_curr = static_cast<py::ssize_t>(py::len(embeddings));
  for (py::ssize_t k = 0; k < num_curr; ++k) {
    const py::object embedding = embeddings[py::int_(k)];
    if (!is_usable_embedding(embedding)) {
      ids.append(-1);
      continue;
    }
    const SignalState state = signal_state(settings, qualities, py::none(), k);
    if (state.low_quality) {
      py_print(skip_creation_line(k, py::float_(state.quality).cast<double>()));
      ids.append(-1);
      continue;
    }
    ids.append(create_speaker(self, embedding));
  }
  return py::make_tuple(ids, py::array_t<double>(0));
}

py::array_t<double> similarity_matrix(const py::object& embeddings, const std::vector<bool>& usable,
                                      const py::list& stored) {
  const py::ssize_t rows = static_cast<py::ssize_t>(usable.size());
  const py::ssize_t cols = static_cast<py::ssize_t>(py::len(stored));
  py::array_t<double> matrix({rows, cols});
  auto cells = matrix.mutable_unchecked<2>();
  const py::object cosine = leadvoice_attr("cosine_similarity");
  for (py::ssize_t k = 0; k < rows; ++k) {
    const py::object embedding = usable[static_cast<size_t>(k)] ? py::object(embeddings[py::int_(k)]) : py::none();
    for (py::ssize_t j = 0; j < cols; ++j) {
      cells(k, j) = usable[static_cast<size_t>(k)] ? py::float_(cosine(embedding, stored[j])).cast<double>() : 0.0;
    }
  }
  return matrix;
}

void report_matrix(const py::array_t<double>& matrix, const std::vector<int64_t>& ids, const py::object& qualities,
                   const py::object& speech_samples, double sample_rate) {
  const py::ssize_t rows = matrix.shape(0);
  py_print(matrix_header_line(rows, static_cast<int64_t>(ids.size())));
  for (py::ssize_t k = 0; k < rows; ++k) {
    std::optional<double> quality;
    std::optional<double> seconds;
    if (const auto q = entry_of(qualities, k)) quality = py::float_(*q).cast<double>();
    if (const auto s = entry_of(speech_samples, k)) seconds = py::float_(*s).cast<double>() / sample_rate;
    py_print(matrix_row_line(k, ids, matrix.data(k, 0), quality, seconds));
  }
}

py::tuple match_speakers(py::object self, py::object embeddings, py::object qualities, py::object speech_samples) {
  const py::ssize_t num_curr = static_cast<py::ssize_t>(py::len(embeddings));
  py::object store = self.attr("global_speaker_embeddings");
  const py::ssize_t num_global = static_cast<py::ssize_t>(py::len(store));
  const py::list ids_sorted = sorted_ids(store);
  py_print(store_line(num_global, py_str(ids_sorted)));
  const TrackerSettings settings(self);
  if (num_global == 0) return match_empty_store(self, embeddings, settings, qualities);

  std::vector<int64_t> global_ids;
  py::list stored;
  for (const py::handle id : ids_sorted) {
    global_ids.push_back(id.cast<int64_t>());
    stored.append(store[id]);
  }
  std::vector<bool> usable(static_cast<size_t>(num_curr));
  for (py::ssize_t k = 0; k < num_curr; ++k) usable[static_cast<size_t>(k)] = is_usable_embedding(embeddings[py::int_(k)]);

  const py::array_t<double> matrix = similarity_matrix(embeddings, usable, stored);
  report_matrix(matrix, global_ids, qualities, speech_samples, settings.sample_rate);

  const py::object cost = py::float_(1.0) - matrix;
  const py::tuple pairs = leadvoice_attr("linear_sum_assignment")(cost);
  const auto rows = py::array_t<int64_t, py::array::forcecast>::ensure(pairs[0]);
  const auto cols = py::array_t<int64_t, py::array::forcecast>::ensure(pairs[1]);

  std::vector<int64_t> result(static_cast<size_t>(num_curr), -1);
  const auto sims = matrix.unchecked<2>();
  for (py::ssize_t p = 0; p < rows.size(); ++p) {
    const int64_t row = rows.at(p);
    const int64_t col = cols.at(p);
    if (!usable[static_cast<size_t>(row)]) continue;
    const double sim = sims(row, col);
    const int64_t matched = global_ids[static_cast<size_t>(col)];
    const SignalState state = signal_state(settings, qualities, speech_samples, row);
    if (sim >= state.similarity_threshold - 1e-6) {
      const py::object updated =
          self.attr("_update_embedding")(py::int_(matched), embeddings[py::int_(row)], state.quality);
      result[static_cast<size_t>(row)] = matched;
      py_print(match_line(row, matched, sim, py::bool_(updated)));
    } else if (state.reliable()) {
      py_print(new_speaker_mark_line(row, matched, sim, state.similarity_threshold));
    } else if (sim >= state.low_similarity_threshold - 1e-6) {
      result[static_cast<size_t>(row)] = matched;
      py_print(forced_match_line(row, matched, state.why, sim, state.low_similarity_threshold));
    } else {
      py_print(skip_line(row, state.why, sim, state.low_similarity_threshold));
    }
  }

  py::list ids;
  for (py::ssize_t k = 0; k < num_curr; ++k) {
    int64_t id = result[static_cast<size_t>(k)];
    if (id == -1 && usable[static_cast<size_t>(k)]) {
      const SignalState state = signal_state(settings, qualities, speech_samples, k);
      if (state.reliable()) {
        id = create_speaker(self, embeddings[py::int_(k)]).cast<int64_t>();
        py_print(new_speaker_line(k, id));
      } else {
        py_print(no_new_speaker_line(k, state.why));
      }
    }
    ids.append(id);
  }
  return py::make_tuple(ids, matrix);
}

}  // namespace

void define_speaker_matching(PlainClass& cls) {
  cls.def("match_speakers_between_segments", &match_speakers, py::arg("curr_embeddings"),
          py::arg("separation_quality") = py::none(), py::arg("speech_samples") = py::none(), py::doc(kDoc));
}

}  // namespace speech
