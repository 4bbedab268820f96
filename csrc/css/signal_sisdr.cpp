#include "css/signal_sisdr.h"

#include <algorithm>
#include <cmath>

#include "css/lane_sum.h"

namespace speech::css {

template <typename T>
CenteredSignal<T> center_signal(common::SampleView<const T> signal) {
  const T* samples = signal.contiguous_data();
  const int64_t length = signal.size();
  CenteredSignal<T> out;
  const double total = lane_sum(length, [&](int64_t i) { return static_cast<double>(samples[i]); });
  const T mean = static_cast<T>(total / static_cast<double>(length));
  out.values.resize(static_cast<size_t>(length));
  T* v = out.values.data();
  for (int64_t i = 0; i < length; ++i) v[i] = samples[i] - mean;
  out.energy = static_cast<T>(lane_sum(length, [&](int64_t i) { return static_cast<double>(v[i] * v[i]); }));
  return out;
}

template <typename T>
T centered_dot(const CenteredSignal<T>& a, const CenteredSignal<T>& b) {
  const T* x = a.values.data();
  const T* y = b.values.data();
  const int64_t length = static_cast<int64_t>(std::min(a.values.size(), b.values.size()));
  return static_cast<T>(lane_sum(length, [&](int64_t i) { return static_cast<double>(x[i] * y[i]); }));
}

template <typename T>
T sisdr_from_dot(const CenteredSignal<T>& estimation, const CenteredSignal<T>& reference, T dot, T eps) {
  const double ref_energy = static_cast<double>(reference.energy);
  const double gain = static_cast<double>(dot) / static_cast<double>(reference.energy + eps);
  const double proj = gain * gain * ref_energy;
  // Exact arithmetic keeps this non-negative; rounding could dip below 0.
  // (A NaN passes through the test.)
  double noise = static_cast<double>(estimation.energy) - 2.0 * gain * static_cast<double>(dot) + gain * gain * ref_energy;
  if (noise < 0.0) noise = 0.0;
  const T ratio = static_cast<T>(proj) / (static_cast<T>(noise) + eps) + eps;
  return std::log10(ratio) * static_cast<T>(10);
}

template CenteredSignal<float> center_signal<float>(common::SampleView<const float>);
template CenteredSignal<double> center_signal<double>(common::SampleView<const double>);
template float centered_dot<float>(const CenteredSignal<float>&, const CenteredSignal<float>&);
template double centered_dot<double>(const CenteredSignal<double>&, const CenteredSignal<double>&);
template float sisdr_from_dot<float>(const CenteredSignal<float>&, const CenteredSignal<float>&, float, float);
template double sisdr_from_dot<double>(const CenteredSignal<double>&, const CenteredSignal<double>&, double, double);

}  // namespace speech::css
