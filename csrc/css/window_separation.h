#pragma once
// One window around the separation network call: the network's input with
// its zero margins, the window mixture it is judged against, and, from the
// network's outputs, the cut to the window, the scaling against the mixture
// and the selection scan with the kept signals' ratings. The network call
// itself is the caller's.
#include <ATen/ATen.h>

#include <cstdint>
#include <vector>

#include "common/sample_view.h"
#include "css/selection.h"
#include "css/windowing.h"

namespace speech::css {

// The network's float32 input [1, seg + 2 * padding] on the host, from the
// recording's own samples.
template <typename T>
at::Tensor network_input(common::SampleView<const T> recording, const WindowSpan& span, int64_t seg_samples,
                         int64_t padding_samples);

// The zero-filled window without margins, [1, 1, seg], as its own copy (the
// network may not leave its input as it was).
at::Tensor window_mixture(const at::Tensor& input, int64_t seg_samples, int64_t padding_samples);

struct SelectionSettings {
  int64_t max_speakers = 4;
  int64_t seg_samples = 0;
  int64_t padding_samples = 0;
  SelectionThresholds thresholds;
};

// Receives each kept signal, scaled, as the scan accepts it: float64 for
// float64 outputs, float32 otherwise. The samples are the scan's own and
// valid only during the call.
class KeptSignalSink {
 public:
  virtual ~KeptSignalSink() = default;
  virtual void keep(common::SampleView<const float> samples) = 0;
  virtual void keep(common::SampleView<const double> samples) = 0;
};

// `separated`: the network's outputs [1, S, T'] on any device; `mix_host`
// and `mix_device`: the window mixture on the host and on the outputs'
// device. Returns the kept signals' separation_quality. A scan that
// reaches an output the network did not give raises the tensor library's
// index error.
std::vector<double> select_window_outputs(const at::Tensor& separated, const at::Tensor& mix_host,
                                          const at::Tensor& mix_device, const SelectionSettings& settings,
                                          KeptSignalSink& kept);

}  // namespace speech::css
