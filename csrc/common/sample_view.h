#pragma once
// The one way a run of samples is handed to the core: where the first sample
// is, how many there are, and how far apart they lie, counted in samples
// (negative for a run that steps backwards, as a reversed array does). A view
// borrows; it never owns or frees what it points at.
//
// SampleView<const T> reads and SampleView<T> may also write; the second
// converts to the first, never the other way.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace speech::common {

template <typename T>
class SampleView {
 public:
  using value_type = std::remove_const_t<T>;

  constexpr SampleView() = default;
  constexpr SampleView(T* data, int64_t size, int64_t stride = 1) : data_(data), size_(size), stride_(stride) {}
  template <typename U, typename = std::enable_if_t<std::is_same_v<const U, T> && !std::is_const_v<U>>>
  // A writable run is also a readable one.
  constexpr SampleView(const SampleView<U>& writable)
      : data_(writable.data()), size_(writable.size()), stride_(writable.stride()) {}

  constexpr T* data() const { return data_; }
  constexpr int64_t size() const { return size_; }
  constexpr int64_t stride() const { return stride_; }
  constexpr bool empty() const { return size_ == 0; }
  // Neighbouring samples are neighbours in memory (always so below two).
  constexpr bool contiguous() const { return stride_ == 1 || size_ < 2; }

  constexpr T& operator[](int64_t i) const { return data_[i * stride_]; }

  // Samples [first, first + count) of this run.
  constexpr SampleView subview(int64_t first, int64_t count) const {
    return {data_ + first * stride_, count, stride_};
  }

  // The samples as one block of memory, for loops that need one (vector
  // code, FFTs, file writers). A strided run is a caller's mistake there:
  // std::invalid_argument rather than samples read from the wrong places.
  T* contiguous_data() const {
    if (!contiguous()) {
      throw std::invalid_argument("a contiguous run of samples is needed, got one with a stride of " +
                                  std::to_string(stride_));
    }
    return data_;
  }

 private:
  T* data_ = nullptr;
  int64_t size_ = 0;
  int64_t stride_ = 1;
};

// The samples of a vector, to read.
template <typename T>
SampleView<const T> samples_of(const std::vector<T>& samples) {
  return {samples.data(), static_cast<int64_t>(samples.size())};
}

// `size` samples side by side from `data`, to read.
template <typename T>
SampleView<const T> contiguous_samples(const T* data, int64_t size) {
  return {data, size};
}

// Copies the run into out[0, from.size()), as one block where it is one.
template <typename T>
void copy_samples(SampleView<const T> from, T* out) {
  if (from.contiguous()) {
    std::copy(from.data(), from.data() + from.size(), out);
    return;
  }
  for (int64_t i = 0; i < from.size(); ++i) out[i] = from[i];
}

}  // namespace speech::common
