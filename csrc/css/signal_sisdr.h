#pragma once
// SI-SDR over raw sample buffers, for the per-window selection where the
// same outputs are compared many times. Each signal is centred once (its
// energy kept); a pair then costs one pass, its dot product, and the
// projection and noise energies follow in closed form:
//   P = g^2 * Er,  N = Ee - 2 g dot + g^2 * Er,  g = dot / (Er + eps).
// The dot product and the energies are rounded to the signals' precision T
// as the tensor form rounds them, sums are accumulated in double, and the
// closed-form energies are exact where the tensor form's own rounding noise
// sits far below eps, so results agree with the tensor form to T's rounding.
#include <cstdint>
#include <vector>

#include "common/sample_view.h"

namespace speech::css {

template <typename T>
struct CenteredSignal {
  std::vector<T> values;  // samples minus their mean
  T energy = 0;           // sum of the squared centred samples
};

// The samples must lie side by side.
template <typename T>
CenteredSignal<T> center_signal(common::SampleView<const T> samples);

// Sum of the element-wise products, each product rounded to T.
template <typename T>
T centered_dot(const CenteredSignal<T>& a, const CenteredSignal<T>& b);

// SI-SDR in dB of `estimation` against `reference` given their dot product.
// NaN samples give NaN; never below 10*log10(eps) otherwise.
template <typename T>
T sisdr_from_dot(const CenteredSignal<T>& estimation, const CenteredSignal<T>& reference, T dot, T eps);

template <typename T>
T sisdr_of_centered(const CenteredSignal<T>& estimation, const CenteredSignal<T>& reference, T eps) {
  return sisdr_from_dot(estimation, reference, centered_dot(estimation, reference), eps);
}

}  // namespace speech::css
