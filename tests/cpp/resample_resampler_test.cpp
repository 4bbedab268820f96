#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/errors.h"
#include "resample/resampler.h"

namespace speech::resample {
namespace {

constexpr double kPi = 3.141592653589793238462643383279502884;

std::vector<double> tone(double freq, double rate, int64_t n) {
  std::vector<double> x(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) x[static_cast<size_t>(i)] = std::sin(2.0 * kPi * freq * i / rate);
  return x;
}

template <typename T>
std::vector<T> run(const std::vector<T>& x, double orig, double target, ResampleFilter f) {
  return resample(common::samples_of(x), orig, target, f);
}

struct LengthCase {
  int64_t n;
  double orig;
  double target;
  int64_t expected;
};

TEST(Resampler, LengthIsCeilOfScaledCount) {
  const LengthCase cases[] = {
      {100, 44100, 16000, 37}, {441, 44100, 16000, 160}, {1, 8000, 16000, 2},
      {32000, 16000, 8000, 16000}, {1000, 11025, 16000, 1452}, {0, 8000, 16000, 0},
      // 313 * (16000 / 1252) rounds just above 4000.
      {313, 1252, 16000, 4001}, {7, 16000, 16000, 7},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(resampled_length(c.n, c.orig, c.target), c.expected) << c.n << " " << c.orig << "->" << c.target;
  }
}

// A tone well inside both bands comes out as the same tone at the new rate.
struct ToneCase {
  double orig;
  double target;
  ResampleFilter filter;
  double tolerance;
};

TEST(Resampler, TonesSurviveAwayFromTheEdges) {
  const ToneCase cases[] = {
      {8000, 16000, ResampleFilter::kKaiserBest, 1e-4}, {44100, 16000, ResampleFilter::kKaiserBest, 1e-4},
      {22050, 16000, ResampleFilter::kKaiserFast, 1e-3}, {16000, 8000, ResampleFilter::kKaiserFast, 1e-3},
  };
  for (const auto& c : cases) {
    const auto x = tone(440.0, c.orig, static_cast<int64_t>(c.orig));
    const auto y = run(x, c.orig, c.target, c.filter);
    const auto expected = tone(440.0, c.target, static_cast<int64_t>(y.size()));
    double worst = 0.0;
    for (size_t t = 200; t + 200 < y.size(); ++t) worst = std::max(worst, std::fabs(y[t] - expected[t]));
    EXPECT_LT(worst, c.tolerance) << c.orig << "->" << c.target;
  }
}

TEST(Resampler, DownsamplingRemovesContentAboveTheNewNyquist) {
  const auto x = tone(6000.0, 16000, 16000);  // above 4 kHz
  for (auto f : {ResampleFilter::kKaiserBest, ResampleFilter::kKaiserFast}) {
    const auto y = run(x, 16000, 8000, f);
    double worst = 0.0;
    for (size_t t = 200; t + 200 < y.size(); ++t) worst = std::max(worst, std::fabs(y[t]));
    EXPECT_LT(worst, 1e-3);
  }
}

TEST(Resampler, FloatAndDoubleAgree) {
  const auto x = tone(1234.5, 22050, 5000);
  const std::vector<float> xf(x.begin(), x.end());
  const auto yd = run(x, 22050, 16000, ResampleFilter::kKaiserBest);
  const auto yf = run(xf, 22050, 16000, ResampleFilter::kKaiserBest);
  ASSERT_EQ(yd.size(), yf.size());
  for (size_t t = 0; t < yd.size(); ++t) EXPECT_NEAR(yf[t], yd[t], 1e-6) << t;
}

TEST(Resampler, StridedInputMatchesContiguous) {
  const auto x = tone(700.0, 8000, 3001);
  std::vector<double> interleaved(2 * x.size(), 99.0);
  for (size_t i = 0; i < x.size(); ++i) interleaved[2 * i] = x[i];
  const common::SampleView<const double> strided(interleaved.data(), static_cast<int64_t>(x.size()), 2);
  std::vector<double> reversed(x.rbegin(), x.rend());
  const common::SampleView<const double> backwards(reversed.data() + reversed.size() - 1, static_cast<int64_t>(x.size()), -1);
  const auto expected = run(x, 8000, 16000, ResampleFilter::kKaiserFast);
  EXPECT_EQ(resample(strided, 8000, 16000, ResampleFilter::kKaiserFast), expected);
  EXPECT_EQ(resample(backwards, 8000, 16000, ResampleFilter::kKaiserFast), expected);
}

TEST(Resampler, LongSignalsGiveTheSameSamplesAsShortOnes) {
  // A long call is split over threads, a short one is not; samples whose
  // filter support lies inside the short signal must be identical.
  std::vector<float> x(44100 * 20);
  uint32_t state = 12345;
  for (auto& v : x) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
  }
  const std::vector<float> head(x.begin(), x.begin() + 4410);
  const auto whole = run(x, 44100, 16000, ResampleFilter::kKaiserBest);
  const auto part = run(head, 44100, 16000, ResampleFilter::kKaiserBest);
  for (size_t t = 0; t + 100 < part.size(); ++t) ASSERT_EQ(whole[t], part[t]) << t;
}

// Any span, from only the input samples it reaches: the span's samples of
// the whole signal, to the bit, at ratios up and down, with both filters,
// through the padded tail as well.
TEST(Resampler, SpanFromItsInputStretchEqualsTheWholeSignalsSpan) {
  struct Case {
    double orig, target;
    ResampleFilter filter;
  };
  const Case cases[] = {{8000, 16000, ResampleFilter::kKaiserFast}, {16000, 8000, ResampleFilter::kKaiserFast},
                        {44100, 16000, ResampleFilter::kKaiserBest}, {1252, 16000, ResampleFilter::kKaiserFast},
                        {16000, 16000, ResampleFilter::kKaiserBest}};
  for (const Case& c : cases) {
    const std::vector<double> x = tone(311.0, c.orig, 4000);
    const auto n = static_cast<int64_t>(x.size());
    const auto whole = run(x, c.orig, c.target, c.filter);
    const auto total = static_cast<int64_t>(whole.size());
    for (const int64_t first : {int64_t{0}, int64_t{3}, total / 2, total - 300}) {
      const SampleStretch have = input_for_span(n, c.orig, c.target, c.filter, first, 300);
      ASSERT_LT(have.end - have.first, n) << c.orig << "->" << c.target;
      const std::vector<double> stretch(x.begin() + have.first, x.begin() + have.end);
      std::vector<double> out(300);
      resample_span_from(common::samples_of(stretch), have, n, c.orig, c.target, c.filter, first, 300, out.data());
      for (int64_t i = 0; i < 300; ++i) {
        ASSERT_EQ(out[static_cast<size_t>(i)], whole[static_cast<size_t>(first + i)])
            << c.orig << "->" << c.target << " at " << first + i;
      }
    }
  }
}

TEST(Resampler, LengthFixPadsWithSilence) {
  const auto x = tone(300.0, 1252, 313);
  const auto y = run(x, 1252, 16000, ResampleFilter::kKaiserFast);
  ASSERT_EQ(y.size(), 4001u);
  EXPECT_EQ(y.back(), 0.0);
  EXPECT_NE(y[3999], 0.0);
}

TEST(Resampler, EqualRatesCopy) {
  const std::vector<float> x = {0.5f, -1.0f, 0.25f};
  EXPECT_EQ(run(x, 16000, 16000, ResampleFilter::kKaiserBest), x);
}

struct ErrorCase {
  const char* what;
  std::vector<double> x;
  double orig;
  double target;
};

TEST(Resampler, RefusesWhatItCannotResample) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const ErrorCase cases[] = {
      {"zero rate", {0.0, 1.0}, 0, 16000},
      {"negative rate", {0.0, 1.0}, 8000, -16000},
      {"nan rate", {0.0, 1.0}, nan, 16000},
      {"infinite rate", {0.0, 1.0}, 8000, inf},
      {"nan sample", {0.0, nan, 1.0}, 8000, 16000},
      {"infinite sample at equal rates", {inf}, 16000, 16000},
      {"empty", {}, 8000, 16000},
      {"no output sample", {1.0, 2.0}, 44100, 16000},
      {"ratio below the filter's resolution", std::vector<double>(20000, 0.0), 16000, 1},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(run(c.x, c.orig, c.target, ResampleFilter::kKaiserBest), common::ValueError) << c.what;
  }
}

TEST(Resampler, ErrorTextsNameTheProblem) {
  try {
    run(std::vector<double>{}, 8000, 16000, ResampleFilter::kKaiserFast);
    FAIL();
  } catch (const common::ValueError& e) {
    EXPECT_STREQ(e.what(), "Input signal length=0 is too small to resample from 8000->16000");
  }
  try {
    run(std::vector<double>{1.0}, -8000, 16000, ResampleFilter::kKaiserFast);
    FAIL();
  } catch (const common::ValueError& e) {
    EXPECT_STREQ(e.what(), "Invalid sample rate: orig_sr=-8000");
  }
}

}  // namespace
}  // namespace speech::resample
