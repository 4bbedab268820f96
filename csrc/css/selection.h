#pragma once
// Choice of the network outputs that count as talkers in one window, and
// the rating of the kept ones by how much of each other they still hold.
#include <cstdint>
#include <vector>

#include "css/signal_sisdr.h"

namespace speech::css {

struct SelectionThresholds {
  double sisdr_threshold = 10.0;        // against the window mixture, dB
  double sisdr_threshold_prev = -10.0;  // against any earlier kept output, dB
};

// Offered the scaled outputs in network order, keeps a leading run: output 0
// unconditionally, each later one while it stays strictly below both
// thresholds. The first refusal ends the scan for good.
template <typename T>
class OutputSelector {
 public:
  // The mixture's and every output's samples lie side by side; the outputs
  // are as long as the mixture and stay readable while the selector lives.
  OutputSelector(common::SampleView<const T> mixture, SelectionThresholds thresholds);

  // Returns whether `output` is kept; after a refusal every further offer is
  // refused without being measured.
  bool offer(common::SampleView<const T> output);
  int64_t kept_count() const { return static_cast<int64_t>(kept_.size()); }
  bool stopped() const { return stopped_; }

  // separation_quality of the kept outputs. The scan has already taken the
  // dot product of every kept pair, so for float32 outputs (whose ratings
  // are float32 anyway) this costs no further pass.
  std::vector<double> quality() const;

 private:
  bool passes(const CenteredSignal<T>& candidate, std::vector<T>& dots) const;

  int64_t length_;
  SelectionThresholds thresholds_;
  CenteredSignal<T> mixture_;
  std::vector<CenteredSignal<T>> kept_;
  std::vector<std::vector<T>> dots_;  // dots_[k][p]: kept k with kept p < k
  std::vector<common::SampleView<const T>> kept_rows_;
  bool stopped_ = false;
};

// Per kept signal, its largest SI-SDR (as the estimate) against every other
// kept signal; minus infinity for a signal kept alone. A NaN never replaces
// the running maximum. Computed in float32, as the ratings always are; the
// signals are equally long, each side by side.
std::vector<double> separation_quality(const std::vector<common::SampleView<const float>>& kept);

}  // namespace speech::css
