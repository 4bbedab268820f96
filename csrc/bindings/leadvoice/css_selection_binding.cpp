// One window's separation: the window header, the network's input from the
// recording's own buffer, the network call through the interpreter, and
// the kept signals of the core's selection as pooled NumPy arrays.
#include <ATen/ATen.h>
#include <pybind11/pybind11.h>
#include <torch/csrc/autograd/python_variable.h>

#include <variant>

#include "bindings/leadvoice/css_parts.h"
#include "bindings/leadvoice/css_pooled_array.h"
#include "common/errors.h"
#include "css/messages.h"
#include "css/window_separation.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

at::Tensor network_input(const ProcessorSettings& s, const Recording& r, const css::WindowSpan& span) {
  return std::visit(
      [&](const auto& samples) { return css::network_input(samples.view(), span, s.seg_samples, s.padding_samples); },
      r.samples);
}

at::Tensor separated_outputs(const ProcessorSettings& s, const at::Tensor& input) {
  const py::object result = s.separation_model(py::cast(input), s.max_speakers_obj);
  const py::object separated = pyutil::unpack_pair(result).second;
  if (!THPVariable_Check(separated.ptr())) {
    throw common::TypeError("the separation network's second result must be a tensor, got " +
                            pyutil::type_name(separated));
  }
  return THPVariable_Unpack(separated.ptr());
}

// Kept signals become pooled arrays as the scan accepts them.
class PooledSignals final : public css::KeptSignalSink {
 public:
  PooledSignals(css::SignalPool& pool, py::list& signals) : pool_(pool), signals_(signals) {}
  void keep(common::SampleView<const float> samples) override { signals_.append(pooled_copy(pool_, samples)); }
  void keep(common::SampleView<const double> samples) override { signals_.append(pooled_copy(pool_, samples)); }

 private:
  css::SignalPool& pool_;
  py::list& signals_;
};

}  // namespace

SeparatedWindow separate_window(const ProcessorSettings& s, const Recording& r, int64_t seg_idx, int64_t num_segments,
                                css::SignalPool& pool) {
  SeparatedWindow window;
  window.seg_idx = seg_idx;
  window.span = css::window_span(seg_idx, r.length, s.seg_samples, s.hop_samples);
  const double start_s = static_cast<double>(window.span.start) / s.sample_rate;
  const double end_s = static_cast<double>(window.span.end()) / s.sample_rate;
  pyutil::py_print(css::window_header_line(seg_idx, num_segments, start_s, end_s));

  const at::Tensor input_host = network_input(s, r, window.span);
  const at::Tensor mix_host = css::window_mixture(input_host, s.seg_samples, s.padding_samples);
  const at::Tensor mix_device = mix_host.to(s.device);
  const at::Tensor separated = separated_outputs(s, input_host.to(s.device));
  const css::SelectionSettings selection{s.max_speakers, s.seg_samples, s.padding_samples,
                                         css::SelectionThresholds{s.sisdr_threshold, s.sisdr_threshold_prev}};
  PooledSignals kept(pool, window.all_separated);
  window.separation_quality = css::select_window_outputs(separated, mix_host, mix_device, selection, kept);
  return window;
}

}  // namespace speech::css_binding
