#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "mixsim/fft_convolution.h"
#include "mixsim/impulse_response_store.h"
#include "mixsim/real_fft.h"

namespace speech::mixsim {
namespace {

std::vector<double> direct_convolution(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> out(a.size() + b.size() - 1, 0.0);
  for (size_t i = 0; i < a.size(); ++i) {
    for (size_t j = 0; j < b.size(); ++j) out[i + j] += a[i] * b[j];
  }
  return out;
}

template <typename T>
std::vector<T> cast(const std::vector<double>& v) {
  return std::vector<T>(v.begin(), v.end());
}

std::vector<double> test_signal(int n, double seed) {
  std::vector<double> x(n);
  for (int i = 0; i < n; ++i) x[i] = std::sin(0.37 * i + seed) + 0.1 * (i % 7);
  return x;
}

std::vector<double> test_response(int m) {
  std::vector<double> h(m);
  for (int i = 0; i < m; ++i) h[i] = std::exp(-0.05 * i) * std::cos(1.3 * i);
  return h;
}

class TransformLength : public ::testing::TestWithParam<std::tuple<int64_t, int64_t>> {};

TEST_P(TransformLength, SmallestSmoothLengthNotBelow) {
  const auto [n, nfft] = GetParam();
  EXPECT_EQ(transform_length(n), nfft);
}

// Powers of two up to 64; beyond, 2^a 3^b 5^c with a >= 6 where one lies
// below the next power of two.
INSTANTIATE_TEST_SUITE_P(Lengths, TransformLength,
                         ::testing::Values(std::make_tuple(1, 1), std::make_tuple(2, 2), std::make_tuple(3, 4),
                                           std::make_tuple(5, 8), std::make_tuple(33, 64), std::make_tuple(64, 64),
                                           std::make_tuple(65, 128), std::make_tuple(97, 128),
                                           std::make_tuple(300, 320), std::make_tuple(1000, 1024),
                                           std::make_tuple(4096, 4096), std::make_tuple(4097, 4608),
                                           std::make_tuple(55999, 57600), std::make_tuple(63999, 64000),
                                           std::make_tuple(71999, 72000)));

// (signal length, response length, double precision)
class Convolution : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

template <typename T>
void expect_direct_sum(int n_sig, int n_ir) {
  const std::vector<double> sig = test_signal(n_sig, 0.0);
  const std::vector<double> ir = test_response(n_ir);
  const std::vector<T> sig_t = cast<T>(sig);
  const std::vector<T> ir_t = cast<T>(ir);
  const std::vector<double> expected =
      direct_convolution(std::vector<double>(sig_t.begin(), sig_t.end()), std::vector<double>(ir_t.begin(), ir_t.end()));
  std::vector<float> full(expected.size());
  std::vector<float> head(n_sig);
  convolve_into(common::samples_of(sig_t), common::samples_of(ir_t), full.data(), static_cast<int64_t>(full.size()));
  convolve_into(common::samples_of(sig_t), common::samples_of(ir_t), head.data(), n_sig);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(full[i], expected[i], 1e-4 * (1.0 + std::fabs(expected[i]))) << "sample " << i;
    if (static_cast<int>(i) < n_sig) {
      EXPECT_EQ(head[i], full[i]);
    }
  }
  EXPECT_EQ(sig_t, cast<T>(sig));
  EXPECT_EQ(ir_t, cast<T>(ir));
}

TEST_P(Convolution, MatchesDirectSumAndKeepsInputs) {
  const auto [n_sig, n_ir, wide] = GetParam();
  if (wide) {
    expect_direct_sum<double>(n_sig, n_ir);
  } else {
    expect_direct_sum<float>(n_sig, n_ir);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, Convolution,
                         ::testing::Values(std::make_tuple(1, 1, false), std::make_tuple(3, 2, false),
                                           std::make_tuple(4, 1, true), std::make_tuple(500, 64, false),
                                           std::make_tuple(17, 300, true), std::make_tuple(2048, 2049, true),
                                           std::make_tuple(4800, 800, false)));

TEST(ConvolutionEdges, RefusesEmptyInputsAndTooLongAnOutput) {
  const std::vector<float> some(5, 1.0f);
  std::vector<float> out(16);
  const common::SampleView<const float> none = common::samples_of(some).subview(0, 0);
  EXPECT_THROW(convolve_into(none, common::samples_of(some), out.data(), 0), std::invalid_argument);
  EXPECT_THROW(convolve_into(common::samples_of(some), none, out.data(), 0), std::invalid_argument);
  EXPECT_THROW(convolve_into(common::samples_of(some), common::samples_of(some), out.data(), 10), std::invalid_argument);
}

TEST(RealFft, InverseOfForwardGivesTheSignalBack) {
  const std::vector<double> x = test_signal(100, 1.0);
  const RealFft<double> fft = RealFft<double>::of_length(128);
  EXPECT_EQ(fft.bins(), 65);
  std::vector<double> back(100);
  fft.inverse(fft.forward(common::samples_of(x)), back.data(), 100);
  for (int i = 0; i < 100; ++i) EXPECT_NEAR(back[i], x[i], 1e-12);
}

// Bin by bin (ar br - ai bi, ar bi + ai br), whichever form runs, the tail
// of a count that is not a multiple of four included.
TEST(RealFft, SpectraMultiplyBinByBin) {
  for (const int64_t bins : {int64_t{1}, int64_t{7}, int64_t{33}}) {
    std::vector<std::complex<float>> a(bins), b(bins);
    for (int64_t k = 0; k < bins; ++k) {
      a[k] = {std::sin(0.3f * k) * 3.0f, std::cos(0.7f * k) / 3.0f};
      b[k] = {std::cos(1.1f * k) * 7.0f, std::sin(0.2f * k + 1.0f)};
    }
    std::vector<std::complex<float>> product = a;
    multiply_spectra(product.data(), b.data(), bins);
    for (int64_t k = 0; k < bins; ++k) {
      const float re = a[k].real() * b[k].real() - a[k].imag() * b[k].imag();
      const float im = a[k].real() * b[k].imag() + a[k].imag() * b[k].real();
      EXPECT_EQ(product[k].real(), re) << bins << " bins, bin " << k;
      EXPECT_EQ(product[k].imag(), im) << bins << " bins, bin " << k;
    }
  }
}

// A cached spectrum must give what transforming the response again gives,
// to the bit: the stream's batches do not depend on which way ran.
TEST(ImpulseResponseSpectra, ConvolveBitForBitAsTheDirectConvolution) {
  const std::vector<float> h = cast<float>(test_response(800));
  ImpulseResponseSpectra spectra(common::samples_of(h));
  for (const int n : {4800, 4800, 300, 4800}) {
    const std::vector<float> x = cast<float>(test_signal(n, n));
    std::vector<float> direct(n), cached(n);
    convolve_into(common::samples_of(x), common::samples_of(h), direct.data(), n);
    spectra.convolve_into(common::samples_of(x), cached.data(), n);
    EXPECT_EQ(std::memcmp(direct.data(), cached.data(), n * sizeof(float)), 0) << "signal of " << n;
  }
}

TEST(ImpulseResponseSpectra, KnowsWhetherItStillHoldsItsSamples) {
  std::vector<float> h = cast<float>(test_response(50));
  const ImpulseResponseSpectra spectra(common::samples_of(h));
  EXPECT_TRUE(spectra.holds(common::samples_of(h)));
  EXPECT_FALSE(spectra.holds(common::samples_of(h).subview(0, 49)));
  h[49] += 1.0f;
  EXPECT_FALSE(spectra.holds(common::samples_of(h)));
  EXPECT_THROW(ImpulseResponseSpectra(common::samples_of(h).subview(0, 0)), std::invalid_argument);
}

TEST(ImpulseResponseSpectra, ThreadsConvolvingAtOnceGetWhatOneThreadGets) {
  const std::vector<float> h = cast<float>(test_response(700));
  const std::vector<float> x = cast<float>(test_signal(6000, 2.0));
  ImpulseResponseSpectra spectra(common::samples_of(h));
  std::vector<float> expected(6000);
  convolve_into(common::samples_of(x), common::samples_of(h), expected.data(), 6000);
  std::vector<std::vector<float>> results(4, std::vector<float>(6000));
  std::vector<std::thread> threads;
  for (auto& result : results) {
    threads.emplace_back([&] {
      for (int k = 0; k < 20; ++k) spectra.convolve_into(common::samples_of(x), result.data(), 6000);
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& result : results) EXPECT_EQ(result, expected);
}

std::vector<float> direct(const std::vector<float>& h, const std::vector<float>& x) {
  std::vector<float> out(x.size());
  convolve_into(common::samples_of(x), common::samples_of(h), out.data(), static_cast<int64_t>(x.size()));
  return out;
}

std::vector<float> through(ImpulseResponseStore& store, const std::vector<float>& h, const std::vector<float>& x) {
  std::vector<float> out(x.size());
  store.convolve_into(common::samples_of(h), common::samples_of(x), out.data(), static_cast<int64_t>(x.size()));
  return out;
}

TEST(ImpulseResponseStore, KeepsOneEntryPerResponseAndMakesItsSpectrumOnce) {
  ImpulseResponseStore store(size_t{64} << 20);
  const std::vector<float> h = cast<float>(test_response(400));
  const std::vector<float> x = cast<float>(test_signal(3000, 0.5));
  EXPECT_EQ(through(store, h, x), direct(h, x));
  const size_t after_first = store.bytes();
  // The spectrum's bins besides the samples.
  const auto bins = static_cast<size_t>(transform_length(3000 + 400 - 1) / 2 + 1);
  EXPECT_GE(after_first, 400 * sizeof(float) + bins * sizeof(std::complex<float>));
  EXPECT_EQ(through(store, h, x), direct(h, x));
  EXPECT_EQ(store.responses(), 1u);
  EXPECT_EQ(store.bytes(), after_first);
}

TEST(ImpulseResponseStore, AResponseChangedInPlaceGetsNewSpectra) {
  ImpulseResponseStore store(size_t{64} << 20);
  std::vector<float> h = cast<float>(test_response(300));
  const std::vector<float> x = cast<float>(test_signal(2000, 0.1));
  through(store, h, x);
  h[0] = -2.0f;
  h[150] = 0.5f;
  EXPECT_EQ(through(store, h, x), direct(h, x));
  EXPECT_EQ(store.responses(), 1u);
}

TEST(ImpulseResponseStore, DropsTheLeastRecentlyUsedBeyondItsBudget) {
  // Room for about two responses of 300 samples and their spectra.
  const auto bins = static_cast<size_t>(transform_length(3000 + 300 - 1) / 2 + 1);
  const size_t one = 300 * sizeof(float) + bins * sizeof(std::complex<float>);
  ImpulseResponseStore store(2 * one + 100);
  const std::vector<float> x = cast<float>(test_signal(3000, 0.3));
  std::vector<std::vector<float>> responses;
  for (int k = 0; k < 5; ++k) {
    std::vector<float> h = cast<float>(test_response(300));
    h[0] = static_cast<float>(k);
    responses.push_back(h);
  }
  for (const auto& h : responses) EXPECT_EQ(through(store, h, x), direct(h, x));
  EXPECT_EQ(store.responses(), 2u);
  EXPECT_LE(store.bytes(), 2 * one + 100);
  // The dropped ones are made again when they come back.
  EXPECT_EQ(through(store, responses[0], x), direct(responses[0], x));
}

}  // namespace
}  // namespace speech::mixsim
