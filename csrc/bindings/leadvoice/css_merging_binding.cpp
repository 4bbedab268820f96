// A window's second half: embeddings of the kept signals, merging of
// signals whose embeddings are alike, global speaker ids from the tracker,
// the optional dump and the segment record. The tracker is reached through
// attribute lookup on the object the processor holds, cosine_similarity
// and ensure_dir through the leadvoice module, all at call time; which
// signals go on and which pairs merge is the core's.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/leadvoice/css_parts.h"
#include "bindings/leadvoice/css_pooled_array.h"
#include "bindings/leadvoice/module_lookup.h"
#include "bindings/leadvoice/tracker_parts.h"
#include "common/errors.h"
#include "css/embedding_gate.h"
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

css::EmbeddingVerdict verdict_of(const py::object& embedding) {
  if (embedding.is_none()) return css::judge_embedding(std::nullopt);
  return css::judge_embedding(embedding_values(embedding));
}

template <typename T>
py::array sum_of(css::SignalPool& pool, const py::array& a, const py::array& b) {
  const auto x = py::array_t<T, py::array::c_style>::ensure(a);
  const auto y = py::array_t<T, py::array::c_style>::ensure(b);
  if (!x || !y || x.size() != y.size()) throw common::ValueError("signals to merge must be arrays of one length and dtype");
  py::array_t<T> out = pooled_array<T>(pool, x.size());
  css::sum_signals(common::contiguous_samples(x.data(), x.size()), common::contiguous_samples(y.data(), y.size()), out.mutable_data());
  return out;
}

py::array merged_signal(css::SignalPool& pool, const py::object& a, const py::object& b) {
  const py::array first = float_array(a, "separated signal");
  const py::array second = float_array(b, "separated signal");
  if (pyutil::float_kind_of(first, "separated signal") == pyutil::FloatKind::kFloat64) {
    return sum_of<double>(pool, first, second);
  }
  return sum_of<float>(pool, first, second);
}

std::vector<Candidate> embed_signals(const py::object& tracker, const SeparatedWindow& window) {
  std::vector<Candidate> kept;
  int64_t sig_idx = 0;
  for (const py::handle signal : window.all_separated) {
    auto [embedding, speech] = pyutil::unpack_pair(tracker.attr("extract_embedding_from_array")(signal));
    switch (verdict_of(embedding)) {
      case css::EmbeddingVerdict::kMissing:
        break;
      case css::EmbeddingVerdict::kNotFinite:
        pyutil::py_print(css::nan_inf_warning_line(sig_idx));
        break;
      case css::EmbeddingVerdict::kUsable:
        kept.push_back({py::reinterpret_borrow<py::object>(signal), embedding,
                        py::float_(window.separation_quality[static_cast<size_t>(sig_idx)]), speech});
        break;
    }
    ++sig_idx;
  }
  return kept;
}

// The window's candidates lent to the merging core; a sum waits in
// `pending_` between its embedding and its taking a member's place.
class CandidateMerging final : public css::MergeCollaborators {
 public:
  CandidateMerging(std::vector<Candidate>& signals, const py::object& tracker, css::SignalPool& pool)
      : signals_(signals), tracker_(tracker), pool_(pool), cosine_(leadvoice_attr("cosine_similarity")) {}

  double similarity(int64_t i, int64_t j) override { return cosine_(at(i).embedding, at(j).embedding).cast<double>(); }

  bool embed_sum(int64_t first, int64_t second) override {
    const py::array sum = merged_signal(pool_, at(first).signal, at(second).signal);
    const py::object embedding = pyutil::unpack_pair(tracker_.attr("extract_embedding_from_array")(sum)).first;
    pending_ = Candidate{sum, embedding, py::none(), py::none()};
    return verdict_of(embedding) == css::EmbeddingVerdict::kUsable;
  }

  void take_sum(int64_t first, int64_t second, const css::MergePick& pick) override {
    Candidate& kept = at(first);
    const Candidate& gone = at(second);
    kept = Candidate{pending_.signal, pending_.embedding, pick.quality_from_second ? gone.quality : kept.quality,
                     pick.speech_from_second ? gone.speech_samples : kept.speech_samples};
    signals_.erase(signals_.begin() + second);
  }

  void report(const std::string& line) override { pyutil::py_print(line); }

 private:
  Candidate& at(int64_t k) { return signals_[static_cast<size_t>(k)]; }

  std::vector<Candidate>& signals_;
  const py::object& tracker_;
  css::SignalPool& pool_;
  py::object cosine_;
  Candidate pending_;
};

void merge_signals(const ProcessorSettings& s, css::SignalPool& pool, std::vector<Candidate>& signals) {
  std::vector<css::MergeEntry> entries;
  for (const Candidate& c : signals) {
    entries.push_back({c.quality.cast<double>(), py::float_(c.speech_samples).cast<double>()});
  }
  CandidateMerging merging(signals, s.speaker_tracker, pool);
  css::merge_alike_signals(entries, s.merge_threshold, pyutil::py_str(s.merge_threshold_obj), merging);
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
    pyutil::py_print(css::window_skip_line());
    return;
  }
  merge_signals(s, *state.pool, signals);

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
    pyutil::py_print(css::init_ids_line(pyutil::py_str(global_ids)));
  } else {
    auto match = pyutil::unpack_pair(
        tracker.attr("match_speakers_between_segments")(curr_embeddings, valid_quality, valid_speech_samples));
    global_ids = match.first;
    similarity_matrix = match.second;
  }
  pyutil::py_print(css::ids_line(pyutil::py_str(global_ids)));
  if (!s.segments_save_dir.is_none()) dump_window(s, recording, window, valid_signals);
  state.segment_results.append(segment_record(window, valid_signals, global_ids, curr_embeddings, similarity_matrix));
  state.is_first_valid_segment = false;
}

}  // namespace speech::css_binding
