#include "resample/sinc_interpolator.h"

#include <immintrin.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <type_traits>

#include "common/cpu_features.h"

namespace speech::resample {

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
  table.row_taps.resize(static_cast<size_t>(step + 1));
  for (int64_t row = 0; row <= step; ++row) {
    table.row_taps[static_cast<size_t>(row)] = row < nwin ? (nwin - row) / step : 0;
  }
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

// One wing as the table gives it: its row, the interpolation factor between
// an entry and the next, and how many taps it has before the signal's edges
// cut them. Tap i is weight[i] + eta * delta[i].
struct WingRow {
  const double* weight;
  const double* delta;
  double eta;
  int64_t taps;
};

inline WingRow wing_row(const InterpTable& table, double frac) {
  const double index_frac = frac * static_cast<double>(table.num_table);
  const auto offset = static_cast<int64_t>(index_frac);
  const auto start = static_cast<size_t>(table.row_start[static_cast<size_t>(offset)]);
  return {table.weight.data() + start, table.delta.data() + start, index_frac - static_cast<double>(offset),
          table.row_taps[static_cast<size_t>(offset)]};
}

// A wing's taps worked out once: a ratio such as 8000 -> 16000 puts every
// output on one of a few positions, and each wing there is read many times.
struct WingTaps {
  double frac = 0.0;
  int64_t taps = 0;
  std::vector<double> coef;      // tap i, as the row gives it
  std::vector<double> reversed;  // coef in groups of four, each group backwards
};

void fill_wing(const InterpTable& table, double frac, WingTaps& wing) {
  const WingRow row = wing_row(table, frac);
  wing.frac = frac;
  wing.taps = row.taps;
  wing.coef.resize(static_cast<size_t>(row.taps));
  wing.reversed.resize(static_cast<size_t>(row.taps));
  for (int64_t i = 0; i < row.taps; ++i) wing.coef[static_cast<size_t>(i)] = row.weight[i] + row.eta * row.delta[i];
  for (int64_t i = 0; i + 4 <= row.taps; i += 4) {
    for (int64_t p = 0; p < 4; ++p) wing.reversed[static_cast<size_t>(i + p)] = wing.coef[static_cast<size_t>(i + 3 - p)];
  }
}

// The wings of the first few positions the outputs of a run fall on; past
// those (a ratio whose outputs fall everywhere) nothing is kept and each
// output reads the table's rows directly.
class WingMemo {
 public:
  const WingTaps* at(const InterpTable& table, double frac) {
    for (size_t k = 0; k < used_; ++k) {
      if (wings_[k].frac == frac) return &wings_[k];
    }
    if (used_ == kPositions) return nullptr;
    fill_wing(table, frac, wings_[used_]);
    return &wings_[used_++];
  }

 private:
  static constexpr size_t kPositions = 8;
  WingTaps wings_[kPositions];
  size_t used_ = 0;
};

// Where a wing's taps come from, one at a time or four lanes at a time.
struct KeptTaps {
  const WingTaps& wing;
  double at(int64_t i) const { return wing.coef[static_cast<size_t>(i)]; }
  __attribute__((target("avx2"))) __m256d group(int64_t i, bool backwards) const {
    return _mm256_loadu_pd((backwards ? wing.reversed.data() : wing.coef.data()) + i);
  }
};

struct RowTaps {
  const WingRow& row;
  double at(int64_t i) const { return row.weight[i] + row.eta * row.delta[i]; }
  __attribute__((target("avx2"))) __m256d group(int64_t i, bool backwards) const {
    const __m256d c = _mm256_add_pd(_mm256_loadu_pd(row.weight + i),
                                    _mm256_mul_pd(_mm256_set1_pd(row.eta), _mm256_loadu_pd(row.delta + i)));
    return backwards ? _mm256_permute4x64_pd(c, 0x1B) : c;
  }
};

// Sum over the first `taps` taps of tap_i * x[i * dir]. Four partial sums,
// tap i going to sum i % 4 and the taps past the last group of four to sum
// 0, added as (s0 + s1) + (s2 + s3): the order is fixed, so a sample's value
// does not depend on how the outputs are split over threads, nor on which
// of the forms below computes it.
template <typename Taps, typename T>
inline double wing_sum(const Taps& source, int64_t taps, const T* x, int64_t dir) {
  double acc[4] = {0.0, 0.0, 0.0, 0.0};
  int64_t i = 0;
  for (; i + 4 <= taps; i += 4) {
    for (int64_t j = 0; j < 4; ++j) acc[j] += source.at(i + j) * static_cast<double>(x[(i + j) * dir]);
  }
  for (; i < taps; ++i) acc[0] += source.at(i) * static_cast<double>(x[i * dir]);
  return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// The same sums four taps at a time in 256-bit lanes, for float samples.
// Products and sums are rounded separately (no fused multiply-add is
// enabled here), as in the form above. The left wing reads four samples
// forwards from x[-i - 3], so its lanes hold the partial sums in reverse,
// and its taps come in reversed groups to match.
template <typename Taps>
__attribute__((target("avx2"))) inline __m256d add_groups(const Taps& source, int64_t begin, int64_t end,
                                                          const float* x, bool backwards, __m256d acc) {
  for (int64_t i = begin; i < end; i += 4) {
    const __m256d xs = _mm256_cvtps_pd(_mm_loadu_ps(backwards ? x - i - 3 : x + i));
    acc = _mm256_add_pd(acc, _mm256_mul_pd(source.group(i, backwards), xs));
  }
  return acc;
}

// The lanes as the four partial sums, the taps past the groups added to
// the first, and the sums combined.
template <typename Taps>
__attribute__((target("avx2"))) inline double finish_sum(const Taps& source, __m256d acc, int64_t groups,
                                                         int64_t taps, const float* x, bool backwards) {
  double lanes[4];
  _mm256_storeu_pd(lanes, acc);
  double s[4];
  for (int j = 0; j < 4; ++j) s[j] = backwards ? lanes[3 - j] : lanes[j];
  const int64_t dir = backwards ? -1 : 1;
  for (int64_t i = groups; i < taps; ++i) s[0] += source.at(i) * static_cast<double>(x[i * dir]);
  return (s[0] + s[1]) + (s[2] + s[3]);
}

template <typename Taps>
__attribute__((target("avx2"))) inline double wing_sum_avx2(const Taps& source, int64_t taps, const float* x,
                                                            bool backwards) {
  const int64_t groups = taps - taps % 4;
  const __m256d acc = add_groups(source, 0, groups, x, backwards, _mm256_setzero_pd());
  return finish_sum(source, acc, groups, taps, x, backwards);
}

// One wing of an output: from the kept taps when its position has them.
template <typename T>
inline double wing_at(WingMemo& memo, const InterpTable& table, double frac, int64_t available, const T* x,
                      int64_t dir) {
  if (const WingTaps* kept = memo.at(table, frac)) {
    return wing_sum(KeptTaps{*kept}, std::min(available, kept->taps), x, dir);
  }
  const WingRow row = wing_row(table, frac);
  return wing_sum(RowTaps{row}, std::min(available, row.taps), x, dir);
}

__attribute__((target("avx2"))) inline double wing_at_avx2(const WingTaps* kept, const InterpTable& table,
                                                           double frac, int64_t available, const float* x,
                                                           bool backwards) {
  if (kept != nullptr) return wing_sum_avx2(KeptTaps{*kept}, std::min(available, kept->taps), x, backwards);
  const WingRow row = wing_row(table, frac);
  return wing_sum_avx2(RowTaps{row}, std::min(available, row.taps), x, backwards);
}

// Output t's time on the input clock: input sample n and the fractional
// position of the left wing (the right wing's is scale - frac).
struct OutputTime {
  int64_t n;
  double frac;
};

inline OutputTime output_time(const InterpTable& table, double time_increment, int64_t t) {
  const double time = static_cast<double>(t) * time_increment;
  const auto n = static_cast<int64_t>(time);
  return {n, table.scale * (time - static_cast<double>(n))};
}

// y[t - y_first] for t in [t_begin, t_end): the left wing from x[n]
// backwards, the right wing from x[n + 1] forwards.
template <typename T>
void interpolate_plain(const InputSamples<T>& x, const InterpTable& table, double time_increment, T* y,
                       int64_t y_first, int64_t t_begin, int64_t t_end) {
  WingMemo left_wings;
  WingMemo right_wings;
  for (int64_t t = t_begin; t < t_end; ++t) {
    const OutputTime at = output_time(table, time_increment, t);
    const T* at_n = x.samples.data() + (at.n - x.first);
    const double left = wing_at(left_wings, table, at.frac, at.n + 1, at_n, -1);
    const double right = wing_at(right_wings, table, table.scale - at.frac, x.total - at.n - 1, at_n + 1, 1);
    y[t - y_first] = static_cast<T>(left + right);
  }
}

// Upsampling by 2, 4 or 8 puts output t = up * m + p at input time
// m + p / up exactly: the outputs of phase p at m, m + 1, ... share one
// pair of wings and read the input at consecutive samples. 0 for any
// other ratio.
int64_t power_of_two_upsampling(double time_increment) {
  for (const int64_t up : {2, 4, 8}) {
    if (time_increment * static_cast<double>(up) == 1.0) return up;
  }
  return 0;
}

// One wing's sums for four outputs of one phase at once: lane o is output
// m + o, whose wing starts at x0[o] (x[n] for the left wing, read
// backwards, x[n + 1] for the right one). Each lane adds its products in
// the order, and into the partial sums, of the per-output form, so each
// output is the same to the bit.
__attribute__((target("avx2"))) inline __m256d four_wing_sums(const WingTaps& wing, const float* x0,
                                                              bool backwards) {
  const int64_t dir = backwards ? -1 : 1;
  const int64_t groups = wing.taps - wing.taps % 4;
  const double* c = wing.coef.data();
  __m256d acc[4] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd()};
  for (int64_t i = 0; i < groups; i += 4) {
    for (int64_t j = 0; j < 4; ++j) {
      const __m256d xs = _mm256_cvtps_pd(_mm_loadu_ps(x0 + (i + j) * dir));
      acc[j] = _mm256_add_pd(acc[j], _mm256_mul_pd(_mm256_set1_pd(c[i + j]), xs));
    }
  }
  for (int64_t i = groups; i < wing.taps; ++i) {
    const __m256d xs = _mm256_cvtps_pd(_mm_loadu_ps(x0 + i * dir));
    acc[0] = _mm256_add_pd(acc[0], _mm256_mul_pd(_mm256_set1_pd(c[i]), xs));
  }
  return _mm256_add_pd(_mm256_add_pd(acc[0], acc[1]), _mm256_add_pd(acc[2], acc[3]));
}

// The same loop for float samples in AVX2 lanes, compiled as a whole so that
// the lane sums inline.
class Avx2Interpolation {
 public:
  Avx2Interpolation(const InputSamples<float>& x, const InterpTable& table, double time_increment, float* y,
                    int64_t y_first)
      : x_(x), table_(table), time_increment_(time_increment), y_(y), y_first_(y_first) {}

  __attribute__((target("avx2"))) void run(int64_t t_begin, int64_t t_end) {
    const int64_t up = power_of_two_upsampling(time_increment_);
    // Outputs whose wings keep all their taps inside the signal.
    const int64_t taps = table_.row_taps.front();
    const int64_t m_low = taps - 1;
    const int64_t m_high = x_.total - 1 - taps;
    int64_t t = t_begin;
    while (t < t_end) {
      const int64_t m = up > 0 ? t / up : 0;
      if (up > 0 && t % up == 0 && m >= m_low && m + 3 <= m_high && t + 4 * up <= t_end) {
        four_outputs_per_phase(t, up);
        t += 4 * up;
        continue;
      }
      one_output(t);
      ++t;
    }
  }

 private:
  __attribute__((target("avx2"))) void one_output(int64_t t) {
    const OutputTime at = output_time(table_, time_increment_, t);
    const float* at_n = x_.samples.data() + (at.n - x_.first);
    const double right_frac = table_.scale - at.frac;
    const double left = wing_at_avx2(left_wings_.at(table_, at.frac), table_, at.frac, at.n + 1, at_n, true);
    const double right = wing_at_avx2(right_wings_.at(table_, right_frac), table_, right_frac,
                                      x_.total - at.n - 1, at_n + 1, false);
    y_[t - y_first_] = static_cast<float>(left + right);
  }

  // Outputs up * (m + o) + p for o in 0..3 and every phase p, t = up * m.
  // The up phases are at most eight positions per wing, which the memos
  // keep; were one not kept, its outputs are made one by one.
  __attribute__((target("avx2"))) void four_outputs_per_phase(int64_t t, int64_t up) {
    for (int64_t p = 0; p < up; ++p) {
      const OutputTime at = output_time(table_, time_increment_, t + p);
      const WingTaps* left = left_wings_.at(table_, at.frac);
      const WingTaps* right = right_wings_.at(table_, table_.scale - at.frac);
      if (left == nullptr || right == nullptr) {
        for (int64_t o = 0; o < 4; ++o) one_output(t + p + o * up);
        continue;
      }
      const float* at_n = x_.samples.data() + (at.n - x_.first);
      const __m256d sums =
          _mm256_add_pd(four_wing_sums(*left, at_n, true), four_wing_sums(*right, at_n + 1, false));
      float values[4];
      _mm_storeu_ps(values, _mm256_cvtpd_ps(sums));
      for (int64_t o = 0; o < 4; ++o) y_[t + p + o * up - y_first_] = values[o];
    }
  }

  const InputSamples<float>& x_;
  const InterpTable& table_;
  const double time_increment_;
  float* const y_;
  const int64_t y_first_;
  WingMemo left_wings_;
  WingMemo right_wings_;
};

__attribute__((target("avx2"))) void interpolate_avx2(const InputSamples<float>& x, const InterpTable& table,
                                                      double time_increment, float* y, int64_t y_first,
                                                      int64_t t_begin, int64_t t_end) {
  Avx2Interpolation(x, table, time_increment, y, y_first).run(t_begin, t_end);
}

template <typename T>
void interpolate_range(const InputSamples<T>& x, const InterpTable& table, double time_increment, T* y,
                       int64_t y_first, int64_t t_begin, int64_t t_end) {
  if constexpr (std::is_same_v<T, float>) {
    if (common::cpu_has_avx2()) return interpolate_avx2(x, table, time_increment, y, y_first, t_begin, t_end);
  }
  interpolate_plain(x, table, time_increment, y, y_first, t_begin, t_end);
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

InputStretch input_stretch(const InterpTable& table, double time_increment, int64_t total, int64_t t_first,
                           int64_t count) {
  if (count <= 0) return {0, 0};
  // No wing has more taps than one that starts on row 0.
  const int64_t taps = table.row_taps.front();
  const auto n_first = static_cast<int64_t>(static_cast<double>(t_first) * time_increment);
  const auto n_last = static_cast<int64_t>(static_cast<double>(t_first + count - 1) * time_increment);
  return {std::max<int64_t>(0, n_first - taps + 1), std::min(total, n_last + taps + 1)};
}

template <typename T>
void interpolate_span(const InputSamples<T>& x, const InterpTable& table, double time_increment, T* y,
                      int64_t t_first, int64_t count) {
  (void)x.samples.contiguous_data();  // the loops read the samples as one block
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
          [=, &table] { interpolate_range(x, table, time_increment, y, t_first, begin, end); });
    } catch (const std::system_error&) {
      // No thread to be had: this share is done here instead.
      interpolate_range(x, table, time_increment, y, t_first, begin, end);
    }
  }
  interpolate_range(x, table, time_increment, y, t_first, t_first, std::min(t_end, t_first + chunk));
  for (auto& worker : workers) worker.join();
}

template void interpolate_span<float>(const InputSamples<float>&, const InterpTable&, double, float*, int64_t,
                                      int64_t);
template void interpolate_span<double>(const InputSamples<double>&, const InterpTable&, double, double*, int64_t,
                                       int64_t);

}  // namespace speech::resample
