// A window's second half: embeddings of the kept signals, merging of
// signals whose embeddings are alike, global speaker ids from the tracker,
// the optional dump and the segment record. The tracker is reached through
// attribute lookup on the object the processor holds, cosine_similarity
// and ensure_dir through the leadvoice module, all at call time.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "bindings/leadvoice/css_parts.h"
#include "bindings/leadvoice/css_pooled_array.h"
#include "bindings/leadvoice/module_lookup.h"
#include "bindings/leadvoice/tracker_parts.h"
#include "common/errors.h"
#include "css/merging.h"
#include "css/messages.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

// One signal of the window with what travels with it.
struct Candidate {
  py::object signal;
  py::object embedding;
  py::object quality;
  py::object speech_samples;
};

bool greater(const py::handle& a, const py::handle& b) {
  const int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_GT);
  if (result < 0) throw py::error_already_set();
  return result == 1;
}

// The larger of two values; the second only when strictly greater.
py::object larger(const py::object& first, const py::object& second) { return greater(second, first) ? second : first; }

template <typename T>
py::array sum_of(css::SignalPool& pool, const py::array& a, const py::array& b) {
  const auto x = py::array_t<T, py::array::c_style>::ensure(a);
  const auto y = py::array_t<T, py::array::c_style>::ensure(b);
  if (!x || !y || x.size() != y.size()) throw ValueError("signals to merge must be arrays of one length and dtype");
  py::array_t<T> out = pooled_array<T>(pool, x.size());
  css::sum_signals(x.data(), y.data(), x.size(), out.mutable_data());
  return out;
}

py::array merged_signal(css::SignalPool& pool, const py::object& a, const py::object& b) {
  const py::array first = float_array(a, "separated signal");
  const py::array second = float_array(b, "separated signal");
  if (float_kind_of(first, "separated signal") == FloatKind::kFloat64) return sum_of<double>(pool, first, second);
  return sum_of<float>(pool, first, second);
}

std::vector<Candidate> embed_signals(const py::object& tracker, const SeparatedWindow& window) {
  std::vector<Candidate> kept;
  int64_t sig_idx = 0;
  for (const py::handle signal : window.all_separated) {
    auto [embedding, speech] = unpack_pair(tracker.attr("extract_embedding_from_array")(signal));
    if (embedding.is_none()) {
      // Too little speech or no usable model result: dropped silently.
    } else if (!is_usable_embedding(embedding)) {
      py_print(css::nan_inf_warning_line(sig_idx));
    } else {
      kept.push_back({py::reinterpret_borrow<py::object>(signal), embedding,
                      py::float_(window.separation_quality[static_cast<size_t>(sig_idx)]), speech});
    }
    ++sig_idx;
  }
  return kept;
}

void print_similarity_matrix(const std::vector<Candidate>& signals, const py::object& similarity) {
  py_print(css::merge_matrix_title_line());
  const int64_t n = static_cast<int64_t>(signals.size());
  for (int64_t i = 0; i < n; ++i) {
    std::vector<double> row(static_cast<size_t>(n), 0.0);
    for (int64_t j = 0; j < n; ++j) {
      if (j != i) row[j] = similarity(signals[i].embedding, signals[j].embedding).cast<double>();
    }
    py_print(css::merge_matrix_row_line(i, row));
  }
}

// Merges pairs of signals with alike embeddings into their sum until one
// signal is left, the best pair falls short, or a sum gets no usable
// embedding (then the pair stays as it was and merging ends).
void merge_signals(const ProcessorSettings& s, css::SignalPool& pool, std::vector<Candidate>& signals) {
  const py::object similarity = leadvoice_attr("cosine_similarity");
  const std::string threshold = py_str(s.merge_threshold_obj);
  py_print(css::merge_header_line(static_cast<int64_t>(signals.size()), threshold));
  print_similarity_matrix(signals, similarity);
  int64_t merge_count = 0;
  while (signals.size() > 1) {
    const css::MergeCandidate pair = css::best_merge_pair(
        static_cast<int64_t>(signals.size()),
        [&](int64_t i, int64_t j) { return similarity(signals[i].embedding, signals[j].embedding).cast<double>(); });
    if (!css::should_merge(pair, s.merge_threshold)) {
      // Without any pair (every similarity -1 or NaN) a threshold at or
      // below -1 has nothing to merge and nothing to report as short of it.
      if (!(pair.similarity >= s.merge_threshold)) py_print(css::merge_stop_line(pair.similarity, threshold));
      break;
    }
    ++merge_count;
    py_print(css::merge_attempt_line(merge_count, pair.first, pair.second, pair.similarity, threshold));
    Candidate& first = signals[pair.first];
    const Candidate& second = signals[pair.second];
    const py::array sum = merged_signal(pool, first.signal, second.signal);
    const py::object merged_embedding =
        unpack_pair(s.speaker_tracker.attr("extract_embedding_from_array")(sum)).first;
    if (!is_usable_embedding(merged_embedding)) {
      py_print(css::merge_failure_line(merge_count));
      break;
    }
    first = Candidate{sum, merged_embedding, larger(first.quality, second.quality),
                      larger(first.speech_samples, second.speech_samples)};
    signals.erase(signals.begin() + pair.second);
    py_print(css::merge_success_line(merge_count, static_cast<int64_t>(signals.size())));
  }
  if (merge_count > 0) py_print(css::merge_summary_line(merge_count, static_cast<int64_t>(signals.size())));
}

py::dict segment_record(const SeparatedWindow& window, const py::list& signals, const py::object& global_ids,
                        const py::list& embeddings, const py::object& similarity_matrix) {
  py::dict record;
  record["seg_idx"] = py::int_(window.seg_idx);
  record["start_sample"] = py::int_(window.span.start);
  record["end_sample"] = py::int_(window.span.end());
  record["separated_signals"] = signals;
  record["global_ids"] = global_ids;
  record["embeddings"] = embeddings;
  record["similarity_matrix"] = similarity_matrix;
  return record;
}

}  // namespace

void assign_window(const ProcessorSettings& s, const Recording& recording, SeparatedWindow& window,
                   RecordingState& state) {
  const py::object& tracker = s.speaker_tracker;
  std::vector<Candidate> signals = embed_signals(tracker, window);
  if (signals.empty()) {
    py_print(css::window_skip_line());
    return;
  }
  if (signals.size() > 1) merge_signals(s, *state.pool, signals);

  py::list valid_signals, curr_embeddings, valid_quality, valid_speech_samples;
  for (const Candidate& c : signals) {
    valid_signals.append(c.signal);
    curr_embeddings.append(c.embedding);
    valid_quality.append(c.quality);
    valid_speech_samples.append(c.speech_samples);
  }
  py::object global_ids;
  py::object similarity_matrix = py::none();
  if (state.is_first_valid_segment) {
    global_ids = tracker.attr("initialize_first_segment")(curr_embeddings);
    py_print(css::init_ids_line(py_str(global_ids)));
  } else {
    auto match = unpack_pair(
        tracker.attr("match_speakers_between_segments")(curr_embeddings, valid_quality, valid_speech_samples));
    global_ids = match.first;
    similarity_matrix = match.second;
  }
  py_print(css::ids_line(py_str(global_ids)));
  if (!s.segments_save_dir.is_none()) dump_window(s, recording, window, valid_signals);
  state.segment_results.append(segment_record(window, valid_signals, global_ids, curr_embeddings, similarity_matrix));
  state.is_first_valid_segment = false;
}

}  // namespace speech::css_binding
