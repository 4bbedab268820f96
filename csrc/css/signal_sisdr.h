#pragma once
// SI-SDR over raw sample buffers, for the per-window selection where the
// same outputs are compared many times: each signal is centred once, then
// every pair costs two passes. Arithmetic stays in the signals' precision T
// (each step rounded to T, as the tensor form does), sums are accumulated
// in double, so results agree with the tensor form to T's rounding.
#include <cstdint>
#include <vector>

namespace speech::css {

template <typename T>
struct CenteredSignal {
  std::vector<T> values;  // samples minus their mean
  T energy = 0;           // sum of the squared centred samples
};

template <typename T>
CenteredSignal<T> center_signal(const T* samples, int64_t length);

// SI-SDR in dB of `estimation` against `reference`, both centred and of one
// length. NaN samples give NaN; never below 10*log10(eps) otherwise.
template <typename T>
T sisdr_of_centered(const CenteredSignal<T>& estimation, const CenteredSignal<T>& reference, T eps);

}  // namespace speech::css
