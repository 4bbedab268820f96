// The inspection dump of one window: its folder under segments_save_dir,
// the window's mixture and each of its signals, cut to the real samples.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <variant>
#include <vector>

#include "bindings/leadvoice/css_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "css/dump.h"
#include "pyutil/fs_path.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

template <typename T>
void write_recording_slice(const std::string& path, common::SampleView<const T> recording, const css::WindowSpan& span,
                           int rate) {
  const common::SampleView<const T> window = recording.subview(span.start, span.actual_len);
  std::vector<T> samples(static_cast<size_t>(window.size()));
  common::copy_samples(window, samples.data());
  css::write_dump_wav(path, common::samples_of(samples), rate);
}

template <typename T>
void write_signal(const std::string& path, const py::array& signal, int64_t length, int rate) {
  const auto values = py::array_t<T, py::array::c_style>::ensure(signal);
  if (!values || values.size() < length) {
    throw common::ValueError("separated signal for '" + path + "' holds fewer samples than its window");
  }
  css::write_dump_wav(path, common::contiguous_samples(values.data(), length), rate);
}

}  // namespace

void dump_window(const ProcessorSettings& s, const Recording& r, const SeparatedWindow& window,
                 const py::list& signals) {
  const py::object join = py::module_::import("os").attr("path").attr("join");
  const css::WindowSpan& span = window.span;
  const std::string name = css::segment_folder_name(window.seg_idx, static_cast<double>(span.start) / s.sample_rate,
                                                    static_cast<double>(span.end()) / s.sample_rate);
  const py::object seg_subdir = join(s.segments_save_dir, name);
  leadvoice_attr("ensure_dir")(seg_subdir);

  const std::string mix_path = pyutil::fs_encode(join(seg_subdir, css::kDumpMixFile));
  std::visit([&](const auto& samples) { write_recording_slice(mix_path, samples.view(), span, s.wav_sample_rate); },
             r.samples);
  int64_t position = 0;
  for (const py::handle signal : signals) {
    const std::string path = pyutil::fs_encode(join(seg_subdir, css::separated_file_name(position++)));
    const py::array values = float_array(signal, "separated signal");
    if (pyutil::float_kind_of(values, "separated signal") == pyutil::FloatKind::kFloat64) {
      write_signal<double>(path, values, span.actual_len, s.wav_sample_rate);
    } else {
      write_signal<float>(path, values, span.actual_len, s.wav_sample_rate);
    }
  }
}

}  // namespace speech::css_binding
