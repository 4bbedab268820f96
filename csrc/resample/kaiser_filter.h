#pragma once
// Kaiser-windowed sinc interpolation filters, designed here from their
// parameters rather than loaded from data files. The two named filters are
// the "kaiser_best" and "kaiser_fast" designs of the resampy/librosa family,
// so the same name gives the same filter table to double rounding.
#include <cstdint>
#include <string>
#include <vector>

namespace speech::resample {

enum class ResampleFilter { kKaiserBest, kKaiserFast };

// "kaiser_best" or "kaiser_fast"; anything else is a ValueError.
ResampleFilter resample_filter_from_name(const std::string& res_type);

struct KaiserDesign {
  int num_zeros;       // zero crossings kept on each side of the sinc
  int precision_bits;  // table entries per zero crossing = 2**precision_bits
  double rolloff;      // cutoff as a fraction of the Nyquist frequency
  double beta;         // Kaiser window shape
};

KaiserDesign kaiser_design(ResampleFilter filter);

// The right wing of a filter, sampled num_table times per zero crossing:
// num_zeros * num_table + 1 values, centre first.
struct InterpFilter {
  std::vector<double> half_window;
  int64_t num_table = 0;
  double rolloff = 0.0;
};

// Builds the right wing of rolloff * sinc(rolloff * t) tapered by the right
// half of a Kaiser window of 2 * num_zeros * num_table + 1 points.
InterpFilter design_kaiser_filter(const KaiserDesign& design);

// The named filter, designed once per process and shared (read-only).
const InterpFilter& kaiser_filter(ResampleFilter filter);

// Modified Bessel function of the first kind, order zero.
double bessel_i0(double x);

}  // namespace speech::resample
