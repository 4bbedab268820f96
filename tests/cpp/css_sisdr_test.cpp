#include <ATen/ATen.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "css/scaling.h"
#include "css/signal_sisdr.h"
#include "css/sisdr.h"

namespace speech::css {
namespace {

at::Tensor unit_energy(int seed, int64_t n, at::ScalarType dtype = at::kFloat) {
  at::manual_seed(seed);
  at::Tensor x = at::randn({n}, at::kDouble);
  x = x - x.mean();
  return (x / x.pow(2).sum().sqrt()).to(dtype);
}

TEST(CssSisdrTest, FloorAndCap) {
  const at::Tensor x = unit_energy(1, 4000);
  EXPECT_EQ(calculate_sisdr(x, at::zeros({4000})), -80.0);
  EXPECT_EQ(calculate_sisdr(at::zeros({4000}), x), -80.0);
  EXPECT_NEAR(calculate_sisdr(x, x), 80.0, 0.01);
  EXPECT_NEAR(calculate_sisdr(x * 2, x), 80.0 + 20.0 * std::log10(2.0), 0.01);
}

TEST(CssSisdrTest, ScaleKeepsDtypeAndShape) {
  const at::Tensor mix = unit_energy(2, 1000, at::kDouble).view({1, 1, 1000});
  const at::Tensor rows = at::cat({mix * 0.5, mix * -4.0}, 1);
  const at::Tensor scale = calculate_scale(rows, mix);
  ASSERT_EQ(scale.sizes(), (at::IntArrayRef{1, 2, 1}));
  EXPECT_EQ(scale.scalar_type(), at::kDouble);
  EXPECT_NEAR(scale[0][0][0].item<double>(), 2.0, 1e-6);
  EXPECT_NEAR(scale[0][1][0].item<double>(), -0.25, 1e-6);
}

// The host form used by the selection must agree with the tensor form to
// the precision's rounding, from the floor through mid values to the cap.
struct Pair {
  const char* name;
  double noise;    // level of independent noise added to the reference
  double gain;
};

void PrintTo(const Pair& p, std::ostream* os) { *os << p.name; }

class HostAgreesWithTensor : public ::testing::TestWithParam<Pair> {};

template <typename T>
void expect_agreement(const Pair& p, at::ScalarType dtype, double tolerance) {
  const at::Tensor ref = unit_energy(3, 38400, dtype);
  const at::Tensor est = ((ref + unit_energy(4, 38400, dtype) * p.noise) * p.gain).to(dtype).contiguous();
  const double tensor_value = calculate_sisdr(est, ref);
  const CenteredSignal<T> e = center_signal(common::contiguous_samples(est.data_ptr<T>(), 38400));
  const CenteredSignal<T> r = center_signal(common::contiguous_samples(ref.data_ptr<T>(), 38400));
  const double host_value = static_cast<double>(sisdr_of_centered(e, r, static_cast<T>(kDefaultEps)));
  EXPECT_NEAR(host_value, tensor_value, tolerance) << p.name;
}

TEST_P(HostAgreesWithTensor, Float32) { expect_agreement<float>(GetParam(), at::kFloat, 2e-3); }
TEST_P(HostAgreesWithTensor, Float64) { expect_agreement<double>(GetParam(), at::kDouble, 1e-6); }

INSTANTIATE_TEST_SUITE_P(Levels, HostAgreesWithTensor,
                         ::testing::Values(Pair{"itself", 0.0, 1.0}, Pair{"scaled_copy", 0.0, -3.0},
                                           Pair{"clean", 0.01, 1.0}, Pair{"even", 1.0, 0.5},
                                           Pair{"buried", 100.0, 1.0}, Pair{"silent_estimate", 0.0, 0.0}),
                         [](const ::testing::TestParamInfo<Pair>& info) { return std::string(info.param.name); });

TEST(CssSisdrTest, HostFormPropagatesNan) {
  std::vector<float> a(16, 1.0f), b(16, 0.0f);
  a[3] = 2.0f;
  b[5] = std::nanf("");
  const auto ca = center_signal(common::samples_of(a));
  const auto cb = center_signal(common::samples_of(b));
  EXPECT_TRUE(std::isnan(sisdr_of_centered(ca, cb, 1e-8f)));
  EXPECT_TRUE(std::isnan(sisdr_of_centered(cb, ca, 1e-8f)));
}

template <typename T>
void expect_host_scaling_matches(at::ScalarType dtype, double tolerance) {
  const int64_t n = 38400;
  const at::Tensor mix = (unit_energy(5, n) + 0.3).view({1, 1, n});  // a mean to remove
  const at::Tensor rows = at::stack({unit_energy(6, n, dtype) * 3.0 + mix[0][0].to(dtype) * -0.5,
                                     mix[0][0].to(dtype) * 2.0 + 1.0, at::zeros({n}, dtype)})
                              .unsqueeze(0)
                              .contiguous();
  const at::Tensor expected = calculate_scale(rows, mix) * rows;
  const CenteredMixture centred = center_mixture(common::contiguous_samples(mix.data_ptr<float>(), n));
  std::vector<T> out(n);
  for (int64_t k = 0; k < 3; ++k) {
    scale_row_to_mixture(common::contiguous_samples(rows[0][k].data_ptr<T>(), n), centred, kDefaultEps, out.data());
    const at::Tensor got = at::from_blob(out.data(), {n}, dtype);
    EXPECT_TRUE(at::allclose(got, expected[0][k], tolerance, tolerance)) << k;
  }
}

TEST(CssSisdrTest, HostScalingMatchesTensorForm) {
  expect_host_scaling_matches<float>(at::kFloat, 1e-5);
  expect_host_scaling_matches<double>(at::kDouble, 1e-10);
}

}  // namespace
}  // namespace speech::css
