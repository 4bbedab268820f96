#include "css/selection.h"

#include <limits>
#include <stdexcept>
#include <type_traits>

#include "css/sisdr.h"

namespace speech::css {
namespace {

constexpr double kMinusInf = -std::numeric_limits<double>::infinity();

// Ratings from centred float32 signals and their pair dots (dot(i, j) is
// symmetric, so each pair is taken once).
template <typename DotOf>
std::vector<double> ratings(const std::vector<CenteredSignal<float>>& kept, DotOf dot_of) {
  if (kept.size() == 1) return {kMinusInf};
  const float eps = static_cast<float>(kDefaultEps);
  std::vector<double> quality(kept.size(), kMinusInf);
  for (size_t i = 0; i < kept.size(); ++i) {
    for (size_t j = 0; j < kept.size(); ++j) {
      if (j == i) continue;
      const double value = static_cast<double>(sisdr_from_dot(kept[i], kept[j], dot_of(i, j), eps));
      if (value > quality[i]) quality[i] = value;
    }
  }
  return quality;
}

}  // namespace

template <typename T>
OutputSelector<T>::OutputSelector(common::SampleView<const T> mixture, SelectionThresholds thresholds)
    : length_(mixture.size()), thresholds_(thresholds), mixture_(center_signal(mixture)) {}

template <typename T>
bool OutputSelector<T>::passes(const CenteredSignal<T>& candidate, std::vector<T>& dots) const {
  const T eps = static_cast<T>(kDefaultEps);
  const double against_mix = static_cast<double>(sisdr_of_centered(candidate, mixture_, eps));
  // The earlier outputs only matter once the mixture test holds.
  if (!(against_mix < thresholds_.sisdr_threshold)) return false;
  double max_prev = kMinusInf;
  for (const CenteredSignal<T>& earlier : kept_) {
    dots.push_back(centered_dot(candidate, earlier));
    const double value = static_cast<double>(sisdr_from_dot(candidate, earlier, dots.back(), eps));
    if (value > max_prev) max_prev = value;
  }
  return max_prev < thresholds_.sisdr_threshold_prev;
}

template <typename T>
bool OutputSelector<T>::offer(common::SampleView<const T> output) {
  if (stopped_) return false;
  if (output.size() != length_) throw std::invalid_argument("an output must be as long as the window mixture");
  CenteredSignal<T> candidate = center_signal(output);
  std::vector<T> dots;
  if (!kept_.empty() && !passes(candidate, dots)) {
    stopped_ = true;
    return false;
  }
  kept_.push_back(std::move(candidate));
  dots_.push_back(std::move(dots));
  kept_rows_.push_back(output);
  return true;
}

template <typename T>
std::vector<double> OutputSelector<T>::quality() const {
  if (kept_.empty()) return {};
  if constexpr (std::is_same_v<T, float>) {
    return ratings(kept_, [&](size_t i, size_t j) { return i > j ? dots_[i][j] : dots_[j][i]; });
  } else {
    std::vector<common::SampleView<const float>> rows;
    std::vector<std::vector<float>> copies;
    copies.reserve(kept_rows_.size());
    for (const common::SampleView<const T>& row : kept_rows_) {
      copies.emplace_back(row.data(), row.data() + row.size());
      rows.push_back(common::samples_of(copies.back()));
    }
    return separation_quality(rows);
  }
}

template class OutputSelector<float>;
template class OutputSelector<double>;

std::vector<double> separation_quality(const std::vector<common::SampleView<const float>>& kept) {
  if (kept.empty()) return {};
  std::vector<CenteredSignal<float>> centred;
  centred.reserve(kept.size());
  for (const common::SampleView<const float>& signal : kept) centred.push_back(center_signal(signal));
  return ratings(centred, [&](size_t i, size_t j) { return centered_dot(centred[i], centred[j]); });
}

}  // namespace speech::css
