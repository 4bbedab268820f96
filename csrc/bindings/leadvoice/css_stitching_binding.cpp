// CSSProcessor._stitch_global_streams: the segment records read into the
// core's stitching plan, each placed signal's samples lent to it, and one
// new float32 array per global speaker id filled by it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

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

css::StitchRecord stitch_record(const py::handle& record) {
  css::StitchRecord r;
  r.seg_idx = record["seg_idx"].cast<int64_t>();
  r.start_sample = record["start_sample"].cast<int64_t>();
  r.end_sample = record["end_sample"].cast<int64_t>();
  for (const py::handle id : record["global_ids"]) r.global_ids.push_back(id.cast<int64_t>());
  return r;
}

// Lends every placed signal's samples to the plan; the arrays it keeps
// alive are returned.
template <typename T>
void lend(css::StitchPlan& plan, size_t p, const py::array& signal, std::vector<py::array>& arrays) {
  const auto values = py::array_t<T, py::array::c_style>::ensure(signal);
  plan.set_samples(p, common::contiguous_samples(values.data(), values.size()));
  arrays.push_back(values);
}

std::vector<py::array> lend_signals(const py::list& records, css::StitchPlan& plan) {
  std::vector<py::array> arrays;
  const auto& placements = plan.placements();
  for (size_t p = 0; p < placements.size(); ++p) {
    const py::object signals = records[placements[p].record]["separated_signals"];
    const py::array signal = float_array(signals[py::int_(placements[p].position)], "separated signal");
    if (pyutil::float_kind_of(signal, "separated signal") == pyutil::FloatKind::kFloat64) {
      lend<double>(plan, p, signal, arrays);
    } else {
      lend<float>(plan, p, signal, arrays);
    }
  }
  return arrays;
}

py::dict stitch_global_streams(py::object self, py::object segment_results, py::object total_samples_obj) {
  const int64_t seg_samples = self.attr("seg_samples").cast<int64_t>();
  const int64_t hop_samples = self.attr("hop_samples").cast<int64_t>();
  const int64_t total_samples = total_samples_obj.cast<int64_t>();
  const py::list records(segment_results);
  std::vector<css::StitchRecord> plain;
  for (const py::handle record : records) plain.push_back(stitch_record(record));
  css::StitchPlan plan(plain, seg_samples, hop_samples, total_samples);
  const std::vector<py::array> lent = lend_signals(records, plan);

  std::vector<py::array_t<float>> arrays;
  std::vector<float*> streams;
  for (size_t k = 0; k < plan.speakers().size(); ++k) {
    arrays.emplace_back(static_cast<py::ssize_t>(total_samples));
    streams.push_back(arrays.back().mutable_data());
  }
  plan.stitch(streams);
  py::dict global_streams;
  for (size_t k = 0; k < arrays.size(); ++k) global_streams[py::int_(plan.speakers()[k])] = arrays[k];
  return global_streams;
}

}  // namespace

void define_stitching(pyutil::PlainClass& cls) {
  cls.def("_stitch_global_streams", &stitch_global_streams, py::arg("segment_results"), py::arg("total_samples"),
          py::doc(kStitchDoc));
}

}  // namespace speech::css_binding
