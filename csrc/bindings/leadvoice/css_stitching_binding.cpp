// CSSProcessor._stitch_global_streams: the segment records overlap-added
// into one full-length float32 stream per global speaker id.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <map>
#include <set>
#include <vector>

#include "bindings/leadvoice/css_parts.h"
#include "common/errors.h"
#include "css/stitching.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

const char* const kStitchDoc =
    "拼接全局说话人音频流\n\n        Args:\n"
    "            segment_results: 每个片段的处理结果\n"
    "            total_samples: 总采样点数\n\n        Returns:\n"
    "            global_streams: 每个全局说话人的完整音频流\n        ";

struct SpeakerTrack {
  py::array_t<float> stream;
  std::vector<float> weights;
};

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

template <typename T>
void add_signal(SpeakerTrack& track, const py::array& signal, const std::vector<double>& window, int64_t start) {
  const auto values = py::array_t<T, py::array::c_style>::ensure(signal);
  if (!values || values.size() < static_cast<py::ssize_t>(window.size())) {
    throw ValueError("a separated signal holds fewer samples than its segment's span");
  }
  css::overlap_add(track.stream.mutable_data(), track.weights.data(), values.data(), window, start);
}

void add_record(std::map<int64_t, SpeakerTrack>& tracks, const py::handle& record, int64_t overlap,
                int64_t last_seg_idx, int64_t total_samples) {
  const int64_t start = int_field(record, "start_sample");
  const int64_t end = int_field(record, "end_sample");
  const int64_t seg_idx = int_field(record, "seg_idx");
  const int64_t actual_len = end - start;
  if (actual_len < 0) throw ValueError("segment ends before it starts: " + std::to_string(start) + " > " + std::to_string(end));
  const std::vector<double> window = css::create_overlap_window(actual_len, overlap, seg_idx == 0, seg_idx == last_seg_idx);
  if (actual_len > 0 && (start < 0 || end > total_samples)) {
    throw ValueError("segment [" + std::to_string(start) + ", " + std::to_string(end) + ") lies outside the " +
                     std::to_string(total_samples) + " samples of the recording");
  }
  const py::object signals = record["separated_signals"];
  int64_t position = 0;
  for (const py::handle id : record["global_ids"]) {
    const int64_t speaker = id.cast<int64_t>();
    if (speaker >= 0) {
      const py::array signal = float_array(signals[py::int_(position)], "separated signal");
      SpeakerTrack& track = tracks.at(speaker);
      if (actual_len == 0) {
        // an empty span adds nothing
      } else if (float_kind_of(signal, "separated signal") == FloatKind::kFloat64) {
        add_signal<double>(track, signal, window, start);
      } else {
        add_signal<float>(track, signal, window, start);
      }
    }
    ++position;
  }
}

py::dict stitch_global_streams(py::object self, py::object segment_results, py::object total_samples_obj) {
  const int64_t seg_samples = self.attr("seg_samples").cast<int64_t>();
  const int64_t hop_samples = self.attr("hop_samples").cast<int64_t>();
  const int64_t total_samples = total_samples_obj.cast<int64_t>();
  py::dict global_streams;
  if (py::len(segment_results) == 0) return global_streams;

  std::map<int64_t, SpeakerTrack> tracks;
  for (const int64_t id : collect_ids(segment_results)) {
    SpeakerTrack track{py::array_t<float>(static_cast<py::ssize_t>(total_samples)),
                       std::vector<float>(static_cast<size_t>(total_samples), 0.0f)};
    std::fill_n(track.stream.mutable_data(), total_samples, 0.0f);
    tracks.emplace(id, std::move(track));
  }
  const int64_t overlap = seg_samples - hop_samples;
  const int64_t last_seg_idx = int_field(segment_results[py::int_(-1)], "seg_idx");
  for (const py::handle record : segment_results) add_record(tracks, record, overlap, last_seg_idx, total_samples);

  for (auto& [id, track] : tracks) {
    css::normalise_stream(track.stream.mutable_data(), track.weights.data(), total_samples);
    global_streams[py::int_(id)] = track.stream;
  }
  return global_streams;
}

}  // namespace

void define_stitching(PlainClass& cls) {
  cls.def("_stitch_global_streams", &stitch_global_streams, py::arg("segment_results"), py::arg("total_samples"),
          py::doc(kStitchDoc));
}

}  // namespace speech::css_binding
