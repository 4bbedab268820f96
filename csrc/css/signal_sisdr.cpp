#include "css/signal_sisdr.h"

#include <cmath>

namespace speech::css {
namespace {

// Four independent accumulators keep the loop pipelined without reordering
// freedom the compiler does not have for floating point.
template <typename Term>
double accumulate(int64_t length, Term term) {
  double a0 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
  int64_t i = 0;
  for (; i + 4 <= length; i += 4) {
    a0 += term(i);
    a1 += term(i + 1);
    a2 += term(i + 2);
    a3 += term(i + 3);
  }
  for (; i < length; ++i) a0 += term(i);
  return (a0 + a1) + (a2 + a3);
}

}  // namespace

template <typename T>
CenteredSignal<T> center_signal(const T* samples, int64_t length) {
  CenteredSignal<T> out;
  const double total = accumulate(length, [&](int64_t i) { return static_cast<double>(samples[i]); });
  const T mean = static_cast<T>(total / static_cast<double>(length));
  out.values.resize(static_cast<size_t>(length));
  for (int64_t i = 0; i < length; ++i) out.values[i] = samples[i] - mean;
  const T* v = out.values.data();
  out.energy = static_cast<T>(accumulate(length, [&](int64_t i) { return static_cast<double>(v[i] * v[i]); }));
  return out;
}

template <typename T>
T sisdr_of_centered(const CenteredSignal<T>& estimation, const CenteredSignal<T>& reference, T eps) {
  const int64_t length = static_cast<int64_t>(reference.values.size());
  const T* e = estimation.values.data();
  const T* r = reference.values.data();
  const T dot = static_cast<T>(accumulate(length, [&](int64_t i) { return static_cast<double>(e[i] * r[i]); }));
  const T ref_energy = reference.energy + eps;
  double proj_sum = 0.0, noise_sum = 0.0;
  double proj_sum2 = 0.0, noise_sum2 = 0.0;
  int64_t i = 0;
  const auto step = [&](int64_t k, double& ps, double& ns) {
    const T proj = (dot * r[k]) / ref_energy;
    const T noise = e[k] - proj;
    ps += static_cast<double>(proj * proj);
    ns += static_cast<double>(noise * noise);
  };
  for (; i + 2 <= length; i += 2) {
    step(i, proj_sum, noise_sum);
    step(i + 1, proj_sum2, noise_sum2);
  }
  for (; i < length; ++i) step(i, proj_sum, noise_sum);
  const T proj_energy = static_cast<T>(proj_sum + proj_sum2);
  const T noise_energy = static_cast<T>(noise_sum + noise_sum2);
  const T ratio = proj_energy / (noise_energy + eps) + eps;
  return std::log10(ratio) * static_cast<T>(10);
}

template CenteredSignal<float> center_signal<float>(const float*, int64_t);
template CenteredSignal<double> center_signal<double>(const double*, int64_t);
template float sisdr_of_centered<float>(const CenteredSignal<float>&, const CenteredSignal<float>&, float);
template double sisdr_of_centered<double>(const CenteredSignal<double>&, const CenteredSignal<double>&, double);

}  // namespace speech::css
