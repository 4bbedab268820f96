#include <gtest/gtest.h>

#include <ATen/ATen.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "mixsim/fft_convolution.h"

namespace speech::mixsim {
namespace {

std::vector<double> direct_convolution(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> out(a.size() + b.size() - 1, 0.0);
  for (size_t i = 0; i < a.size(); ++i) {
    for (size_t j = 0; j < b.size(); ++j) out[i + j] += a[i] * b[j];
  }
  return out;
}

at::Tensor as_tensor(const std::vector<double>& v, at::ScalarType type) {
  return at::tensor(v, at::TensorOptions().dtype(at::kDouble)).to(type);
}

class TransformLength : public ::testing::TestWithParam<std::tuple<int64_t, int64_t>> {};

TEST_P(TransformLength, SmallestPowerOfTwoNotBelow) {
  const auto [n, nfft] = GetParam();
  EXPECT_EQ(transform_length(n), nfft);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TransformLength,
                         ::testing::Values(std::make_tuple(1, 1), std::make_tuple(2, 2), std::make_tuple(3, 4),
                                           std::make_tuple(4, 4), std::make_tuple(5, 8),
                                           std::make_tuple(4096, 4096), std::make_tuple(4097, 8192),
                                           std::make_tuple(55999, 65536)));

class Convolution : public ::testing::TestWithParam<std::tuple<int, int, at::ScalarType>> {};

TEST_P(Convolution, MatchesDirectSumAndKeepsInputs) {
  const auto [n_sig, n_ir, type] = GetParam();
  std::vector<double> sig(n_sig), ir(n_ir);
  for (int i = 0; i < n_sig; ++i) sig[i] = std::sin(0.37 * i) + 0.1 * (i % 7);
  for (int i = 0; i < n_ir; ++i) ir[i] = std::exp(-0.05 * i) * std::cos(1.3 * i);
  if (type == at::kInt) {
    // Integer samples are convolved in double; keep them small and exact.
    for (int i = 0; i < n_sig; ++i) sig[i] = (i % 7) - 3;
    for (int i = 0; i < n_ir; ++i) ir[i] = (i % 5) - 2;
  }
  const at::Tensor sig_t = as_tensor(sig, type);
  const at::Tensor ir_t = as_tensor(ir, type);
  const at::Tensor sig_before = sig_t.clone();
  const at::Tensor ir_before = ir_t.clone();
  const std::vector<double> expected = direct_convolution(sig, ir);

  const at::Tensor full = fft_convolve(sig_t, ir_t);
  const at::Tensor head = fft_convolve_truncate(sig_t, ir_t);
  ASSERT_EQ(full.scalar_type(), at::kFloat);
  ASSERT_EQ(head.scalar_type(), at::kFloat);
  ASSERT_EQ(full.numel(), static_cast<int64_t>(expected.size()));
  ASSERT_EQ(head.numel(), n_sig);
  const auto* f = full.data_ptr<float>();
  const auto* h = head.data_ptr<float>();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(f[i], expected[i], 1e-4 * (1.0 + std::fabs(expected[i]))) << "sample " << i;
    if (static_cast<int>(i) < n_sig) EXPECT_EQ(h[i], f[i]);
  }
  EXPECT_TRUE(at::equal(sig_t, sig_before));
  EXPECT_TRUE(at::equal(ir_t, ir_before));
}

INSTANTIATE_TEST_SUITE_P(Shapes, Convolution,
                         ::testing::Values(std::make_tuple(1, 1, at::kFloat), std::make_tuple(3, 2, at::kFloat),
                                           std::make_tuple(4, 1, at::kDouble), std::make_tuple(500, 64, at::kFloat),
                                           std::make_tuple(17, 300, at::kDouble),
                                           std::make_tuple(2048, 2049, at::kInt)));

TEST(ConvolutionEdges, EmptyInputsGiveEmptyFloat32) {
  const at::Tensor empty = at::empty({0}, at::kFloat);
  const at::Tensor some = at::ones({5}, at::kFloat);
  for (const auto& [a, b] : {std::make_pair(empty, some), std::make_pair(some, empty), std::make_pair(empty, empty)}) {
    EXPECT_EQ(fft_convolve(a, b).numel(), 0);
    EXPECT_EQ(fft_convolve_truncate(a, b).numel(), 0);
    EXPECT_EQ(fft_convolve_truncate(a, b).scalar_type(), at::kFloat);
  }
}

TEST(ConvolutionEdges, RefusesShapesOtherThanOneDimension) {
  const at::Tensor rows = at::ones({2, 3}, at::kFloat);
  EXPECT_ANY_THROW(fft_convolve(rows, at::ones({2}, at::kFloat)));
  at::Tensor out = at::empty({10}, at::kFloat);
  EXPECT_ANY_THROW(convolve_into(at::ones({3}, at::kFloat), at::ones({2}, at::kFloat), out));
}

}  // namespace
}  // namespace speech::mixsim
