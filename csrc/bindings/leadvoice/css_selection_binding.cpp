// One window's separation: network input with zero margins, the network
// call, cut and scaling (tensor code on the processor's device), then the
// selection scan and the ratings over host buffers.
#include <ATen/ATen.h>
#include <pybind11/pybind11.h>
#include <torch/csrc/autograd/python_variable.h>

#include <algorithm>
#include <type_traits>
#include <vector>

#include "bindings/leadvoice/css_parts.h"
#include "bindings/leadvoice/css_pooled_array.h"
#include "common/errors.h"
#include "css/messages.h"
#include "css/scaling.h"
#include "css/selection.h"
#include "css/sisdr.h"
#include "css/windowing.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

// The network's input [1, seg + 2 * padding] on the host, float32.
at::Tensor network_input(const ProcessorSettings& s, const Recording& r, const css::WindowSpan& span) {
  const int64_t length = s.seg_samples + 2 * s.padding_samples;
  at::Tensor input = at::empty({1, length}, at::kFloat);
  float* out = input.data_ptr<float>();
  if (r.kind == FloatKind::kFloat32) {
    css::fill_network_input<float>(r.data, r.stride_bytes, span, s.seg_samples, s.padding_samples, out);
  } else {
    css::fill_network_input<double>(r.data, r.stride_bytes, span, s.seg_samples, s.padding_samples, out);
  }
  return input;
}

at::Tensor separated_outputs(const ProcessorSettings& s, const at::Tensor& input) {
  const py::object result = s.separation_model(py::cast(input), s.max_speakers_obj);
  const py::object separated = unpack_pair(result).second;
  if (!THPVariable_Check(separated.ptr())) {
    throw TypeError("the separation network's second result must be a tensor, got " +
                    py_str(py::type::of(separated).attr("__name__")));
  }
  return THPVariable_Unpack(separated.ptr());
}

// Where the outputs are host tensors of the expected layout, the gains are
// found and applied row by row as the scan reaches each row; elsewhere the
// tensor form scales them on their device and the rows come over once.
bool scales_on_host(const at::Tensor& cut, int64_t seg_samples) {
  const auto type = cut.scalar_type();
  return cut.device().is_cpu() && cut.dim() == 3 && cut.size(0) >= 1 && cut.size(2) == seg_samples &&
         cut.stride(2) == 1 && (type == at::kFloat || type == at::kDouble);
}

template <typename T>
class ScaledRows {
 public:
  ScaledRows(const at::Tensor& cut, const at::Tensor& mix_host, const at::Tensor& mix_tensor, int64_t examined,
             int64_t length, bool on_host)
      : length_(length), on_host_(on_host) {
    constexpr auto type = c10::CppTypeToScalarType<T>::value;
    if (on_host_) {
      source_ = cut;
      mixture_ = css::center_mixture(mix_host.data_ptr<float>(), length);
      rows_ = at::empty({examined, length}, cut.options());
    } else {
      const at::Tensor scaled = css::calculate_scale(cut, mix_tensor) * cut;
      rows_ = scaled.select(0, 0).narrow(0, 0, examined).to(at::kCPU, type).contiguous();
    }
  }

  const T* row(int64_t k) {
    T* out = rows_.data_ptr<T>() + k * length_;
    if (on_host_) {
      const T* in = source_.data_ptr<T>() + k * source_.stride(1);
      css::scale_row_to_mixture(in, mixture_, css::kDefaultEps, out);
    }
    return out;
  }

 private:
  int64_t length_;
  bool on_host_;
  at::Tensor source_;
  at::Tensor rows_;
  css::CenteredMixture mixture_;
};

template <typename T>
void select_outputs(const ProcessorSettings& s, const at::Tensor& cut, const at::Tensor& mix_host,
                    const at::Tensor& mix_tensor, bool on_host, css::SignalPool& pool, SeparatedWindow& window) {
  const int64_t available = cut.size(1);
  const int64_t examined = std::max<int64_t>(0, std::min(s.max_speakers, available));
  const int64_t length = s.seg_samples;
  ScaledRows<T> rows(cut, mix_host, mix_tensor, examined, length, on_host);
  const at::Tensor mixture = mix_host.to(c10::CppTypeToScalarType<T>::value).contiguous();
  css::OutputSelector<T> selector(mixture.data_ptr<T>(), length,
                                  css::SelectionThresholds{s.sisdr_threshold, s.sisdr_threshold_prev});
  for (int64_t k = 0; k < s.max_speakers; ++k) {
    if (k >= available) (void)cut.select(1, k);  // the tensor library's IndexError
    const T* row = rows.row(k);
    if (!selector.offer(row)) break;
    window.all_separated.append(pooled_copy(pool, row, length));
  }
  window.separation_quality = selector.quality();
}

}  // namespace

SeparatedWindow separate_window(const ProcessorSettings& s, const Recording& r, int64_t seg_idx,
                                int64_t num_segments, css::SignalPool& pool) {
  SeparatedWindow window;
  window.seg_idx = seg_idx;
  window.span = css::window_span(seg_idx, r.length, s.seg_samples, s.hop_samples);
  const double start_s = static_cast<double>(window.span.start) / s.sample_rate;
  const double end_s = static_cast<double>(window.span.end()) / s.sample_rate;
  py_print(css::window_header_line(seg_idx, num_segments, start_s, end_s));

  const at::Tensor input_host = network_input(s, r, window.span);
  // Its own copy: the network may not leave its input as it was.
  const at::Tensor mix_host = input_host.narrow(1, s.padding_samples, s.seg_samples).clone().reshape({1, 1, s.seg_samples});
  const at::Tensor mix_tensor = mix_host.to(s.device);
  const at::Tensor separated = separated_outputs(s, input_host.to(s.device));
  const at::Tensor cut = separated.slice(2, s.padding_samples, s.padding_samples + s.seg_samples);
  const bool on_host = scales_on_host(cut, s.seg_samples);
  // Host arithmetic in the outputs' precision; anything narrower than
  // float32 is rated in float32.
  if (cut.scalar_type() == at::kDouble) {
    select_outputs<double>(s, cut, mix_host, mix_tensor, on_host, pool, window);
  } else {
    select_outputs<float>(s, cut, mix_host, mix_tensor, on_host, pool, window);
  }
  return window;
}

}  // namespace speech::css_binding
