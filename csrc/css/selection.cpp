#include "css/selection.h"

#include <limits>

#include "css/sisdr.h"

namespace speech::css {

template <typename T>
OutputSelector<T>::OutputSelector(const T* mixture, int64_t length, SelectionThresholds thresholds)
    : length_(length), thresholds_(thresholds), mixture_(center_signal(mixture, length)) {}

template <typename T>
bool OutputSelector<T>::passes(const CenteredSignal<T>& candidate) const {
  const T eps = static_cast<T>(kDefaultEps);
  const double against_mix = static_cast<double>(sisdr_of_centered(candidate, mixture_, eps));
  // The earlier outputs only matter once the mixture test holds.
  if (!(against_mix < thresholds_.sisdr_threshold)) return false;
  double max_prev = -std::numeric_limits<double>::infinity();
  for (const CenteredSignal<T>& earlier : kept_) {
    const double value = static_cast<double>(sisdr_of_centered(candidate, earlier, eps));
    if (value > max_prev) max_prev = value;
  }
  return max_prev < thresholds_.sisdr_threshold_prev;
}

template <typename T>
bool OutputSelector<T>::offer(const T* output) {
  if (stopped_) return false;
  CenteredSignal<T> candidate = center_signal(output, length_);
  if (!kept_.empty() && !passes(candidate)) {
    stopped_ = true;
    return false;
  }
  kept_.push_back(std::move(candidate));
  return true;
}

template class OutputSelector<float>;
template class OutputSelector<double>;

std::vector<double> separation_quality(const std::vector<const float*>& kept, int64_t length) {
  const double minus_inf = -std::numeric_limits<double>::infinity();
  if (kept.size() == 1) return {minus_inf};
  std::vector<CenteredSignal<float>> centred;
  centred.reserve(kept.size());
  for (const float* signal : kept) centred.push_back(center_signal(signal, length));
  const float eps = static_cast<float>(kDefaultEps);
  std::vector<double> quality;
  quality.reserve(kept.size());
  for (size_t i = 0; i < centred.size(); ++i) {
    double best = minus_inf;
    for (size_t j = 0; j < centred.size(); ++j) {
      if (j == i) continue;
      const double value = static_cast<double>(sisdr_of_centered(centred[i], centred[j], eps));
      if (value > best) best = value;
    }
    quality.push_back(best);
  }
  return quality;
}

}  // namespace speech::css
