// CSSProcessor._stitch_global_streams: the segment records overlap-added
// into one full-length float32 stream per global speaker id.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "bindings/leadvoice/css_parts.h"
#include "common/errors.h"
#include "css/stitching.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

const char* const kStitchDoc =
    "拼接全局说话人音频流\n\n        Args:\n"
    "            segment_results: 每个片段的处理结果\n"
    "            total_samples: 总采样点数\n\n        Returns:\n"
    "            global_streams: 每个全局说话人的完整音频流\n        ";

int64_t int_field(const py::handle& record, const char* key) { return record[key].cast<int64_t>(); }

std::set<int64_t> collect_ids(const py::handle& segment_results) {
  std::set<int64_t> ids;
  for (const py::handle record : segment_results) {
    for (const py::handle id : record["global_ids"]) {
      const int64_t value = id.cast<int64_t>();
      if (value >= 0) ids.insert(value);
    }
  }
  return ids;
}

// The records read into pieces; arrays and windows stay alive with it.
class PieceList {
 public:
  PieceList(const std::set<int64_t>& ids, int64_t overlap, int64_t last_seg_idx, int64_t total_samples)
      : overlap_(overlap), last_seg_idx_(last_seg_idx), total_samples_(total_samples) {
    size_t slot = 0;
    for (const int64_t id : ids) slots_[id] = slot++;
  }

  void add_record(const py::handle& record) {
    const int64_t start = int_field(record, "start_sample");
    const int64_t end = int_field(record, "end_sample");
    const int64_t seg_idx = int_field(record, "seg_idx");
    const int64_t actual_len = end - start;
    if (actual_len < 0) {
      throw ValueError("segment ends before it starts: " + std::to_string(start) + " > " + std::to_string(end));
    }
    const std::vector<double>* window = window_for(actual_len, seg_idx == 0, seg_idx == last_seg_idx_);
    if (actual_len > 0 && (start < 0 || end > total_samples_)) {
      throw ValueError("segment [" + std::to_string(start) + ", " + std::to_string(end) + ") lies outside the " +
                       std::to_string(total_samples_) + " samples of the recording");
    }
    const py::object signals = record["separated_signals"];
    int64_t position = 0;
    for (const py::handle id : record["global_ids"]) {
      const int64_t speaker = id.cast<int64_t>();
      if (speaker >= 0) add_signal(signals[py::int_(position)], speaker, start, window);
      ++position;
    }
  }

  const std::vector<css::StitchPiece>& pieces() const { return pieces_; }

 private:
  const std::vector<double>* window_for(int64_t length, bool is_first, bool is_last) {
    const auto key = std::make_tuple(length, is_first, is_last);
    auto it = windows_.find(key);
    if (it == windows_.end()) {
      it = windows_.emplace(key, css::create_overlap_window(length, overlap_, is_first, is_last)).first;
    }
    return &it->second;
  }

  void add_signal(const py::handle& value, int64_t speaker, int64_t start, const std::vector<double>* window) {
    const py::array signal = float_array(value, "separated signal");
    css::StitchPiece piece;
    piece.start = start;
    piece.window = window;
    piece.speaker = slots_.at(speaker);
    const auto length = static_cast<py::ssize_t>(window->size());
    if (float_kind_of(signal, "separated signal") == FloatKind::kFloat64) {
      const auto values = py::array_t<double, py::array::c_style>::ensure(signal);
      check_length(values.size(), length);
      piece.f64 = values.data();
      arrays_.push_back(values);
    } else {
      const auto values = py::array_t<float, py::array::c_style>::ensure(signal);
      check_length(values.size(), length);
      piece.f32 = values.data();
      arrays_.push_back(values);
    }
    if (length > 0) pieces_.push_back(piece);
  }

  static void check_length(py::ssize_t have, py::ssize_t need) {
    if (have < need) throw ValueError("a separated signal holds fewer samples than its segment's span");
  }

  int64_t overlap_;
  int64_t last_seg_idx_;
  int64_t total_samples_;
  std::map<int64_t, size_t> slots_;
  std::map<std::tuple<int64_t, bool, bool>, std::vector<double>> windows_;
  std::vector<py::array> arrays_;
  std::vector<css::StitchPiece> pieces_;
};

py::dict stitch_global_streams(py::object self, py::object segment_results, py::object total_samples_obj) {
  const int64_t seg_samples = self.attr("seg_samples").cast<int64_t>();
  const int64_t hop_samples = self.attr("hop_samples").cast<int64_t>();
  const int64_t total_samples = total_samples_obj.cast<int64_t>();
  py::dict global_streams;
  if (py::len(segment_results) == 0) return global_streams;

  const std::set<int64_t> ids = collect_ids(segment_results);
  const int64_t last_seg_idx = int_field(segment_results[py::int_(-1)], "seg_idx");
  PieceList list(ids, seg_samples - hop_samples, last_seg_idx, total_samples);
  for (const py::handle record : segment_results) list.add_record(record);

  std::vector<py::array_t<float>> arrays;
  std::vector<float*> streams;
  for (size_t k = 0; k < ids.size(); ++k) {
    arrays.emplace_back(static_cast<py::ssize_t>(total_samples));
    streams.push_back(arrays.back().mutable_data());
  }
  css::stitch_streams(list.pieces(), streams, total_samples);
  size_t k = 0;
  for (const int64_t id : ids) global_streams[py::int_(id)] = arrays[k++];
  return global_streams;
}

}  // namespace

void define_stitching(PlainClass& cls) {
  cls.def("_stitch_global_streams", &stitch_global_streams, py::arg("segment_results"), py::arg("total_samples"),
          py::doc(kStitchDoc));
}

}  // namespace speech::css_binding
