#include "resample/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/errors.h"
#include "common/finite_samples.h"
#include "common/number_format.h"
#include "resample/sinc_interpolator.h"
#include "resample/table_cache.h"

namespace speech::resample {

namespace {

// Rates as a user wrote them: 16000, not 16000.0.
std::string rate_text(double rate) {
  if (std::isfinite(rate) && rate == std::floor(rate) && std::fabs(rate) < 1e15) {
    return std::to_string(static_cast<int64_t>(rate));
  }
  return common::format_repr(rate);
}

void check_rate(double rate, const char* name) {
  if (!(std::isfinite(rate) && rate > 0.0)) {
    throw common::ValueError(std::string("Invalid sample rate: ") + name + "=" + rate_text(rate));
  }
}

// Length of the interpolated signal, before the length fix:
// floor(n * target / orig), evaluated left to right.
int64_t interpolated_length(int64_t n, double orig_sr, double target_sr) {
  return static_cast<int64_t>(static_cast<double>(n) * target_sr / orig_sr);
}

// Downsampling reads the filter table every ratio * num_table entries; below
// one entry per tap the filter cannot be stretched that far.
void check_filter_resolution(ResampleFilter filter, double orig_sr, double target_sr) {
  const double num_table = static_cast<double>(kaiser_filter(filter).num_table);
  if (std::min(1.0, target_sr / orig_sr) * num_table < 1.0) {
    throw common::ValueError("Cannot resample from " + rate_text(orig_sr) + "->" + rate_text(target_sr) +
                     ": the rate ratio is below the filter's resolution of 1/" + rate_text(num_table));
  }
}

// Interpolated samples first .. first+count of x, from a contiguous buffer
// (the input's own when it is one).
template <typename T>
void interpolate_run(common::SampleView<const T> x, double sample_ratio, ResampleFilter filter, T* out, int64_t first,
                     int64_t count) {
  const std::shared_ptr<const InterpTable> table = cached_interp_table(filter, sample_ratio);
  std::vector<T> copy;
  if (!x.contiguous()) {
    copy.resize(static_cast<size_t>(x.size()));
    common::copy_samples(x, copy.data());
  }
  const common::SampleView<const T> samples = x.contiguous() ? x : common::samples_of(copy);
  interpolate_span(whole_signal(samples), *table, 1.0 / sample_ratio, out, first, count);
}

// The interpolated part of outputs [first, first + count) of a signal of n
// samples: [first, end), past which the length fix pads with silence.
int64_t interpolated_end(int64_t n, double orig_sr, double target_sr, int64_t first, int64_t count) {
  const int64_t n_interp = interpolated_length(n, orig_sr, target_sr);
  return std::max(first, std::min(first + count, n_interp));
}

void check_span(int64_t n, double orig_sr, double target_sr, int64_t first, int64_t count) {
  const int64_t n_out = resampled_length(n, orig_sr, target_sr);
  if (first < 0 || count < 0 || first + count > n_out) {
    throw std::invalid_argument("resample span outside the resampled signal");
  }
}

}  // namespace

void check_sample_rates(double orig_sr, double target_sr) {
  check_rate(orig_sr, "orig_sr");
  check_rate(target_sr, "target_sr");
}

template <typename T>
void check_finite(common::SampleView<const T> x) {
  if (!common::all_finite(x)) throw common::ValueError("Audio buffer is not finite everywhere");
}

int64_t resampled_length(int64_t n, double orig_sr, double target_sr) {
  check_sample_rates(orig_sr, target_sr);
  const double length = std::ceil(static_cast<double>(n) * (target_sr / orig_sr));
  // Far beyond any memory; also keeps the conversion below defined.
  if (!(length < 9.0e15)) {
    throw common::ValueError("Resampling " + std::to_string(n) + " samples from " + rate_text(orig_sr) + " to " +
                     rate_text(target_sr) + " Hz gives too long a signal");
  }
  return static_cast<int64_t>(length);
}

template <typename T>
void resample_into(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter, T* out,
                   int64_t out_size) {
  if (out_size != resampled_length(x.size(), orig_sr, target_sr)) {
    throw std::invalid_argument("resample_into: output buffer of the wrong length");
  }
  check_resample_input(x, orig_sr, target_sr, filter);
  if (orig_sr == target_sr) {
    common::copy_samples(x, out);
    return;
  }
  const int64_t n_interp = interpolated_length(x.size(), orig_sr, target_sr);
  const int64_t n_kept = std::min(n_interp, out_size);
  interpolate_run(x, target_sr / orig_sr, filter, out, 0, n_kept);
  // The length fix pads with silence.
  std::fill(out + n_kept, out + out_size, T(0));
}

void check_resample_shape(int64_t n, double orig_sr, double target_sr, ResampleFilter filter) {
  resampled_length(n, orig_sr, target_sr);
  if (orig_sr == target_sr) return;
  if (interpolated_length(n, orig_sr, target_sr) < 1) {
    throw common::ValueError("Input signal length=" + std::to_string(n) + " is too small to resample from " +
                     rate_text(orig_sr) + "->" + rate_text(target_sr));
  }
  check_filter_resolution(filter, orig_sr, target_sr);
}

template <typename T>
void check_resample_input(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter) {
  resampled_length(x.size(), orig_sr, target_sr);
  check_finite(x);
  check_resample_shape(x.size(), orig_sr, target_sr, filter);
}

template <typename T>
void resample_span_into(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter,
                        int64_t first, int64_t count, T* out) {
  check_span(x.size(), orig_sr, target_sr, first, count);
  if (orig_sr == target_sr) {
    common::copy_samples(x.subview(first, count), out);
    return;
  }
  const int64_t interp_end = interpolated_end(x.size(), orig_sr, target_sr, first, count);
  if (interp_end > first) {
    interpolate_run(x, target_sr / orig_sr, filter, out, first, interp_end - first);
  }
  std::fill(out + (interp_end - first), out + count, T(0));
}

SampleStretch input_for_span(int64_t n, double orig_sr, double target_sr, ResampleFilter filter, int64_t first,
                             int64_t count) {
  check_span(n, orig_sr, target_sr, first, count);
  if (orig_sr == target_sr) return {first, first + count};
  const int64_t interp_end = interpolated_end(n, orig_sr, target_sr, first, count);
  const std::shared_ptr<const InterpTable> table = cached_interp_table(filter, target_sr / orig_sr);
  const InputStretch stretch = input_stretch(*table, 1.0 / (target_sr / orig_sr), n, first, interp_end - first);
  return {stretch.first, stretch.end};
}

template <typename T>
void resample_span_from(common::SampleView<const T> x, const SampleStretch& have, int64_t n, double orig_sr,
                        double target_sr, ResampleFilter filter, int64_t first, int64_t count, T* out) {
  const SampleStretch needed = input_for_span(n, orig_sr, target_sr, filter, first, count);
  if (needed.first < have.first || needed.end > have.end || x.size() != have.end - have.first) {
    throw std::invalid_argument("resample_span_from: the samples at hand do not cover the span");
  }
  if (orig_sr == target_sr) {
    common::copy_samples(x.subview(first - have.first, count), out);
    return;
  }
  const int64_t interp_end = interpolated_end(n, orig_sr, target_sr, first, count);
  if (interp_end > first) {
    const std::shared_ptr<const InterpTable> table = cached_interp_table(filter, target_sr / orig_sr);
    const InputSamples<T> samples{x, have.first, n};
    // The output clock as interpolate_run has it, so the times round alike.
    interpolate_span(samples, *table, 1.0 / (target_sr / orig_sr), out, first, interp_end - first);
  }
  std::fill(out + (interp_end - first), out + count, T(0));
}

template <typename T>
std::vector<T> resample(common::SampleView<const T> x, double orig_sr, double target_sr, ResampleFilter filter) {
  std::vector<T> out(static_cast<size_t>(resampled_length(x.size(), orig_sr, target_sr)));
  resample_into(x, orig_sr, target_sr, filter, out.data(), static_cast<int64_t>(out.size()));
  return out;
}

template void check_finite<float>(common::SampleView<const float>);
template void check_finite<double>(common::SampleView<const double>);
template void resample_into<float>(common::SampleView<const float>, double, double, ResampleFilter, float*, int64_t);
template void resample_into<double>(common::SampleView<const double>, double, double, ResampleFilter, double*, int64_t);
template void check_resample_input<float>(common::SampleView<const float>, double, double, ResampleFilter);
template void check_resample_input<double>(common::SampleView<const double>, double, double, ResampleFilter);
template void resample_span_into<float>(common::SampleView<const float>, double, double, ResampleFilter, int64_t, int64_t,
                                        float*);
template void resample_span_into<double>(common::SampleView<const double>, double, double, ResampleFilter, int64_t,
                                         int64_t, double*);
template void resample_span_from<float>(common::SampleView<const float>, const SampleStretch&, int64_t, double, double,
                                        ResampleFilter, int64_t, int64_t, float*);
template void resample_span_from<double>(common::SampleView<const double>, const SampleStretch&, int64_t, double, double,
                                         ResampleFilter, int64_t, int64_t, double*);
template std::vector<float> resample<float>(common::SampleView<const float>, double, double, ResampleFilter);
template std::vector<double> resample<double>(common::SampleView<const double>, double, double, ResampleFilter);

}  // namespace speech::resample
