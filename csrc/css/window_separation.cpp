#include "css/window_separation.h"

#include <algorithm>

#include "css/scaling.h"
#include "css/sisdr.h"

namespace speech::css {
namespace {

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
  ScaledRows(const at::Tensor& cut, const at::Tensor& mix_host, const at::Tensor& mix_device, int64_t examined,
             int64_t length)
      : length_(length), on_host_(scales_on_host(cut, length)) {
    constexpr auto type = c10::CppTypeToScalarType<T>::value;
    if (on_host_) {
      source_ = cut;
      mixture_ = center_mixture(common::SampleView<const float>(mix_host.data_ptr<float>(), length));
      rows_ = at::empty({examined, length}, cut.options());
    } else {
      const at::Tensor scaled = calculate_scale(cut, mix_device) * cut;
      rows_ = scaled.select(0, 0).narrow(0, 0, examined).to(at::kCPU, type).contiguous();
    }
  }

  common::SampleView<const T> row(int64_t k) {
    T* out = rows_.data_ptr<T>() + k * length_;
    if (on_host_) {
      const common::SampleView<const T> in(source_.data_ptr<T>() + k * source_.stride(1), length_);
      scale_row_to_mixture(in, mixture_, kDefaultEps, out);
    }
    return {out, length_};
  }

 private:
  int64_t length_;
  bool on_host_;
  at::Tensor source_;
  at::Tensor rows_;
  CenteredMixture mixture_;
};

// Host arithmetic in the outputs' precision.
template <typename T>
std::vector<double> scan(const at::Tensor& cut, const at::Tensor& mix_host, const at::Tensor& mix_device,
                         const SelectionSettings& s, KeptSignalSink& kept) {
  const int64_t available = cut.size(1);
  const int64_t examined = std::max<int64_t>(0, std::min(s.max_speakers, available));
  ScaledRows<T> rows(cut, mix_host, mix_device, examined, s.seg_samples);
  const at::Tensor mixture = mix_host.to(c10::CppTypeToScalarType<T>::value).contiguous();
  OutputSelector<T> selector(common::SampleView<const T>(mixture.data_ptr<T>(), s.seg_samples), s.thresholds);
  for (int64_t k = 0; k < s.max_speakers; ++k) {
    if (k >= available) (void)cut.select(1, k);  // the tensor library's IndexError
    const common::SampleView<const T> row = rows.row(k);
    if (!selector.offer(row)) break;
    kept.keep(row);
  }
  return selector.quality();
}

}  // namespace

template <typename T>
at::Tensor network_input(common::SampleView<const T> recording, const WindowSpan& span, int64_t seg_samples,
                         int64_t padding_samples) {
  at::Tensor input = at::empty({1, seg_samples + 2 * padding_samples}, at::kFloat);
  fill_network_input(recording, span, seg_samples, padding_samples, input.data_ptr<float>());
  return input;
}

template at::Tensor network_input<float>(common::SampleView<const float>, const WindowSpan&, int64_t, int64_t);
template at::Tensor network_input<double>(common::SampleView<const double>, const WindowSpan&, int64_t, int64_t);

at::Tensor window_mixture(const at::Tensor& input, int64_t seg_samples, int64_t padding_samples) {
  return input.narrow(1, padding_samples, seg_samples).clone().reshape({1, 1, seg_samples});
}

std::vector<double> select_window_outputs(const at::Tensor& separated, const at::Tensor& mix_host,
                                          const at::Tensor& mix_device, const SelectionSettings& settings,
                                          KeptSignalSink& kept) {
  const at::Tensor cut = separated.slice(2, settings.padding_samples, settings.padding_samples + settings.seg_samples);
  // Anything narrower than float32 is rated in float32.
  if (cut.scalar_type() == at::kDouble) return scan<double>(cut, mix_host, mix_device, settings, kept);
  return scan<float>(cut, mix_host, mix_device, settings, kept);
}

}  // namespace speech::css
