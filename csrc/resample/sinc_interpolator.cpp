#include "resample/sinc_interpolator.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace speech {

namespace {

// Entry k of the filter times `gain`, and its difference to entry k + 1 (the
// last entry has none). The difference is taken after scaling, as the
// reference does, so the weights round the same way.
struct Entry {
  double weight;
  double delta;
};

inline Entry scaled_entry(const std::vector<double>& base, double gain, int64_t k) {
  const double w = gain * base[static_cast<size_t>(k)];
  const bool last = k + 1 == static_cast<int64_t>(base.size());
  const double next = last ? w : gain * base[static_cast<size_t>(k + 1)];
  return {w, next - w};
}

// Entry k = i * step + row goes to row `row`, position i: a transpose of the
// table seen as rows of `step` entries, done in tiles so that reads and
// writes both stay within a few pages at a time.
void fill_rows(const std::vector<double>& base, double gain, InterpTable& table) {
  constexpr int64_t kTile = 64;
  const int64_t n = table.nwin;
  const int64_t step = table.index_step;
  const int64_t taps = (n + step - 1) / step;
  for (int64_t i0 = 0; i0 < taps; i0 += kTile) {
    const int64_t i1 = std::min(taps, i0 + kTile);
    for (int64_t r0 = 0; r0 < step; r0 += kTile) {
      const int64_t r1 = std::min(step, r0 + kTile);
      for (int64_t r = r0; r < r1; ++r) {
        const auto start = static_cast<size_t>(table.row_start[static_cast<size_t>(r)]);
        for (int64_t i = i0; i < i1 && i * step + r < n; ++i) {
          const Entry e = scaled_entry(base, gain, i * step + r);
          table.weight[start + static_cast<size_t>(i)] = e.weight;
          table.delta[start + static_cast<size_t>(i)] = e.delta;
        }
      }
    }
  }
}

}  // namespace

InterpTable prepare_table(const InterpFilter& filter, double sample_ratio) {
  InterpTable table;
  table.nwin = static_cast<int64_t>(filter.half_window.size());
  table.num_table = filter.num_table;
  table.scale = std::min(1.0, sample_ratio);
  table.index_step = std::max<int64_t>(1, static_cast<int64_t>(table.scale * static_cast<double>(filter.num_table)));

  // Rows 0 .. step - 1 partition the table; row `step`, reached when a wing
  // starts exactly one step in, is row 0 without its first entry.
  const int64_t step = table.index_step;
  const int64_t nwin = table.nwin;
  table.row_start.resize(static_cast<size_t>(step + 2));
  int64_t total = 0;
  for (int64_t row = 0; row <= step; ++row) {
    table.row_start[static_cast<size_t>(row)] = total;
    total += row < nwin ? (nwin - row + step - 1) / step : 0;
  }
  table.row_start[static_cast<size_t>(step + 1)] = total;
  table.weight.resize(static_cast<size_t>(total));
  table.delta.resize(static_cast<size_t>(total));
  // Multiplying by 1 is exact: upsampling keeps the filter's own entries.
  fill_rows(filter.half_window, std::min(1.0, sample_ratio), table);
  const auto last_row = static_cast<size_t>(table.row_start[static_cast<size_t>(step)]);
  const auto row0_len = static_cast<size_t>(table.row_start[1]);
  for (size_t i = 1; i < row0_len; ++i) {
    table.weight[last_row + i - 1] = table.weight[i];
    table.delta[last_row + i - 1] = table.delta[i];
  }
  return table;
}

namespace {

// One wing: its row of the table, the interpolation factor between an entry
// and the next, and how many taps it has.
struct Wing {
  const double* weight;
  const double* delta;
  double eta;
  int64_t taps;
};

// The wing starting at fractional position `frac` (in zero crossings, scaled),
// limited to `available` input samples.
inline Wing wing_at(const InterpTable& table, double frac, int64_t available) {
  const double index_frac = frac * static_cast<double>(table.num_table);
  const auto offset = static_cast<int64_t>(index_frac);
  const int64_t start = table.row_start[static_cast<size_t>(offset)];
  const int64_t taps = std::min(available, (table.nwin - offset) / table.index_step);
  return {table.weight.data() + start, table.delta.data() + start, index_frac - static_cast<double>(offset), taps};
}

// Sum over the wing's taps of weight_i * x[i * dir]. Four partial sums keep
// the multiply-adds independent; the order is fixed, so a sample's value does
// not depend on how the outputs are split over threads.
template <typename T>
inline double wing_sum(const Wing& wing, const T* x, int64_t dir) {
  double acc[4] = {0.0, 0.0, 0.0, 0.0};
  const double eta = wing.eta;
  int64_t i = 0;
  for (; i + 4 <= wing.taps; i += 4) {
    for (int64_t j = 0; j < 4; ++j) {
      acc[j] += (wing.weight[i + j] + eta * wing.delta[i + j]) * static_cast<double>(x[(i + j) * dir]);
    }
  }
  for (; i < wing.taps; ++i) acc[0] += (wing.weight[i] + eta * wing.delta[i]) * static_cast<double>(x[i * dir]);
  return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// y[t - y_first] for t in [t_begin, t_end).
template <typename T>
void interpolate_range(const T* x, int64_t n_in, const InterpTable& table, double time_increment, T* y,
                       int64_t y_first, int64_t t_begin, int64_t t_end) {
  for (int64_t t = t_begin; t < t_end; ++t) {
    const double time = static_cast<double>(t) * time_increment;
    const auto n = static_cast<int64_t>(time);
    const double frac = table.scale * (time - static_cast<double>(n));
    // Left wing from x[n] backwards, right wing from x[n + 1] forwards.
    const double left = wing_sum(wing_at(table, frac, n + 1), x + n, -1);
    const double right = wing_sum(wing_at(table, table.scale - frac, n_in - n - 1), x + n + 1, 1);
    y[t - y_first] = static_cast<T>(left + right);
  }
}

// Threads only pay off for long signals; the bound keeps short calls (single
// utterances) on the calling thread.
int thread_count(int64_t n_out, const InterpTable& table) {
  const int64_t taps_per_output = 2 * (table.nwin / table.index_step + 1);
  constexpr int64_t kTapsPerThread = int64_t{8} << 20;
  const int64_t wanted = n_out * taps_per_output / kTapsPerThread;
  const int64_t hardware = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::clamp<int64_t>(wanted, 1, std::min<int64_t>(hardware, 8)));
}

}  // namespace

template <typename T>
void interpolate_span(const T* x, int64_t n_in, const InterpTable& table, double time_increment, T* y,
                      int64_t t_first, int64_t count) {
  const int threads = thread_count(count, table);
  const int64_t chunk = (count + threads - 1) / threads;
  const int64_t t_end = t_first + count;
  std::vector<std::thread> workers;
  workers.reserve(static_cast<size_t>(threads - 1));
  for (int w = 1; w < threads; ++w) {
    const int64_t begin = std::min(t_end, t_first + w * chunk);
    const int64_t end = std::min(t_end, begin + chunk);
    try {
      workers.emplace_back(
          [=, &table] { interpolate_range(x, n_in, table, time_increment, y, t_first, begin, end); });
    } catch (const std::system_error&) {
      // No thread to be had: this share is done here instead.
      interpolate_range(x, n_in, table, time_increment, y, t_first, begin, end);
    }
  }
  interpolate_range(x, n_in, table, time_increment, y, t_first, t_first, std::min(t_end, t_first + chunk));
  for (auto& worker : workers) worker.join();
}

template void interpolate_span<float>(const float*, int64_t, const InterpTable&, double, float*, int64_t, int64_t);
template void interpolate_span<double>(const double*, int64_t, const InterpTable&, double, double*, int64_t,
                                       int64_t);

}  // namespace speech
