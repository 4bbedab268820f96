#pragma once
// Whether every sample is a finite number. A NaN or an infinity in a
// recording poisons every window that holds it (and a wav writer turns it
// into full-scale noise), so such a recording is refused before it is used.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

#include "common/sample_view.h"

namespace speech::common {

namespace finite_detail {

// Whether a block holds a NaN or an infinity (all exponent bits set), tested
// on the bits so that the loop vectorises.
template <typename T>
bool holds_non_finite(const T* x, int64_t n) {
  using Bits = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
  constexpr Bits kExponent = static_cast<Bits>(sizeof(T) == 4 ? 0x7f800000ull : 0x7ff0000000000000ull);
  Bits found = 0;
  for (int64_t i = 0; i < n; ++i) {
    Bits bits;
    std::memcpy(&bits, x + i, sizeof(bits));
    found |= static_cast<Bits>((bits & kExponent) == kExponent);
  }
  return found != 0;
}

}  // namespace finite_detail

// The place of the first NaN or infinity, if any. Whole blocks of a
// contiguous run are cleared at once; only a block holding one is searched.
template <typename T>
std::optional<int64_t> first_non_finite_index(SampleView<const T> x) {
  static_assert(std::is_floating_point_v<T>, "only floating-point samples can be non-finite");
  if (!x.contiguous()) {
    for (int64_t i = 0; i < x.size(); ++i) {
      if (!std::isfinite(x[i])) return i;
    }
    return std::nullopt;
  }
  constexpr int64_t kBlock = 1024;
  const T* data = x.data();
  for (int64_t begin = 0; begin < x.size(); begin += kBlock) {
    const int64_t count = std::min(kBlock, x.size() - begin);
    if (!finite_detail::holds_non_finite(data + begin, count)) continue;
    for (int64_t i = begin; i < begin + count; ++i) {
      if (!std::isfinite(data[i])) return i;
    }
  }
  return std::nullopt;
}

template <typename T>
bool all_finite(SampleView<const T> x) {
  return !first_non_finite_index(x).has_value();
}

}  // namespace speech::common
