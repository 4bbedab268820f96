#pragma once
// The interpolation loop: every output sample is the input convolved with the
// filter's two wings, centred at the output's time on the input clock.
#include <cstdint>
#include <vector>

#include "common/sample_view.h"
#include "resample/kaiser_filter.h"

namespace speech::resample {

// A filter's table made ready for one rate ratio. A wing starting at table
// entry `offset` reads entries offset, offset + index_step, ...; those are
// stored together as row `offset` (offsets run from 0 to index_step), so a
// wing is read sequentially rather than one cache line per tap.
struct InterpTable {
  std::vector<double> weight;      // table entries, row after row
  std::vector<double> delta;       // difference of each entry to the next one
  std::vector<int64_t> row_start;  // index_step + 2 bounds into weight/delta
  std::vector<int64_t> row_taps;   // per row, the taps of a wing that starts on it
  int64_t nwin = 0;                // entries of the filter table
  int64_t num_table = 0;           // entries per zero crossing of the filter
  int64_t index_step = 0;          // entries between successive taps
  double scale = 1.0;              // min(1, target / orig)
};

// For downsampling the filter is stretched to the new Nyquist frequency and
// its gain scaled by the ratio.
InterpTable prepare_table(const InterpFilter& filter, double sample_ratio);

// A signal of `total` samples, of which samples [first, first +
// samples.size()) are at hand, side by side: the whole signal, or the stretch
// that some of its outputs are made from.
template <typename T>
struct InputSamples {
  common::SampleView<const T> samples;
  int64_t first = 0;
  int64_t total = 0;
};

template <typename T>
InputSamples<T> whole_signal(common::SampleView<const T> x) {
  return {x, 0, x.size()};
}

// The input samples [first, end) that outputs [t_first, t_first + count)
// read: the taps of both wings around each output's time t *
// time_increment, within the signal's `total` samples.
struct InputStretch {
  int64_t first = 0;
  int64_t end = 0;
};
InputStretch input_stretch(const InterpTable& table, double time_increment, int64_t total, int64_t t_first,
                           int64_t count);

// y[t - t_first] for t in [t_first, t_first + count), output sample t at
// input time t * time_increment; x must hold at least the input_stretch of
// those outputs. Output samples are independent, so a stretch holds the
// values the whole signal has there, whichever input samples are at hand,
// and splitting them over threads gives the same values as one thread.
template <typename T>
void interpolate_span(const InputSamples<T>& x, const InterpTable& table, double time_increment, T* y,
                      int64_t t_first, int64_t count);

}  // namespace speech::resample
