#include "css/window_separation.h"

#include <ATen/ATen.h>
#include <c10/util/Exception.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace speech::css {
namespace {

constexpr int64_t kSeg = 64;
constexpr int64_t kPad = 8;

at::Tensor tone(int cycles, double amplitude = 1.0) {
  return amplitude * at::sin(2.0 * M_PI * cycles * at::arange(kSeg, at::kDouble) / kSeg);
}

// Network outputs [1, rows, seg + 2 * pad] with `rows` between the margins
// and noise in the margins, which the cut must drop.
at::Tensor outputs_of(const std::vector<at::Tensor>& rows, at::ScalarType dtype = at::kFloat) {
  at::Tensor out = at::full({1, static_cast<int64_t>(rows.size()), kSeg + 2 * kPad}, 9.0, at::kDouble);
  for (size_t k = 0; k < rows.size(); ++k) out[0][static_cast<int64_t>(k)].narrow(0, kPad, kSeg).copy_(rows[k]);
  return out.to(dtype);
}

// Copies of the kept signals, with the precision they came in.
struct Kept : KeptSignalSink {
  void keep(common::SampleView<const float> samples) override { add(samples, false); }
  void keep(common::SampleView<const double> samples) override { add(samples, true); }
  template <typename T>
  void add(common::SampleView<const T> samples, bool f64) {
    rows.emplace_back(samples.data(), samples.data() + samples.size());
    as_double.push_back(f64);
  }
  at::Tensor row(size_t k) const { return at::tensor(rows[k], at::kDouble); }
  std::vector<std::vector<double>> rows;
  std::vector<bool> as_double;
};

struct Selection {
  Kept kept;
  std::vector<double> quality;
};

const at::Tensor kMix = (tone(4) + tone(7)).to(at::kFloat).reshape({1, 1, kSeg});

Selection select(const at::Tensor& separated, int64_t max_speakers) {
  Selection result;
  const SelectionSettings settings{max_speakers, kSeg, kPad, SelectionThresholds{10.0, -10.0}};
  result.quality = select_window_outputs(separated, kMix, kMix, settings, result.kept);
  return result;
}

// Output 0 is kept untested; output 1 differs from the mixture and from
// output 0 and is kept; output 2 repeats output 1 and ends the scan.
const std::vector<at::Tensor> kRows = {tone(4, 0.5), tone(7, 2.0), tone(7, 2.0), tone(9)};

TEST(CssWindowSeparationTest, KeepsALeadingRunScaledToTheMixture) {
  const Selection selection = select(outputs_of(kRows), 4);
  ASSERT_EQ(selection.kept.rows.size(), 2u);
  EXPECT_EQ(selection.kept.as_double, (std::vector<bool>{false, false}));
  ASSERT_EQ(selection.kept.rows[0].size(), static_cast<size_t>(kSeg));
  // Gains of 2 and 0.5 bring both tones back to the mixture's level.
  EXPECT_TRUE(at::allclose(selection.kept.row(0), tone(4), 1e-5, 1e-5));
  EXPECT_TRUE(at::allclose(selection.kept.row(1), tone(7), 1e-5, 1e-5));
  ASSERT_EQ(selection.quality.size(), 2u);
  for (const double q : selection.quality) EXPECT_LT(q, -60.0);  // orthogonal tones
}

// Outputs the host arithmetic cannot take in place (another layout, another
// precision) are scaled by the tensor form and give the same selection.
TEST(CssWindowSeparationTest, EveryLayoutAndPrecisionSelectsAlike) {
  const Selection reference = select(outputs_of(kRows), 4);
  const at::Tensor strided = outputs_of(kRows).transpose(1, 2).contiguous().transpose(1, 2);
  ASSERT_NE(strided.stride(2), 1);
  for (const at::Tensor& separated : {strided, outputs_of(kRows, at::kHalf), outputs_of(kRows, at::kDouble)}) {
    const Selection selection = select(separated, 4);
    ASSERT_EQ(selection.kept.rows.size(), reference.kept.rows.size());
    for (size_t k = 0; k < selection.kept.rows.size(); ++k) {
      EXPECT_EQ(selection.kept.as_double[k], separated.scalar_type() == at::kDouble);
      EXPECT_TRUE(at::allclose(selection.kept.row(k), reference.kept.row(k), 1e-2, 1e-2));
    }
  }
}

TEST(CssWindowSeparationTest, ScanPastTheNetworksOutputsIsAnIndexError) {
  const std::vector<at::Tensor> two = {tone(4), tone(7)};
  EXPECT_THROW(select(outputs_of(two), 3), c10::IndexError);
  // A scan that stops before the end never reaches the missing output.
  const std::vector<at::Tensor> repeated = {tone(4), tone(4)};
  EXPECT_EQ(select(outputs_of(repeated), 3).kept.rows.size(), 1u);
  const Selection single = select(outputs_of(two), 1);
  EXPECT_EQ(single.kept.rows.size(), 1u);
  EXPECT_EQ(single.quality, (std::vector<double>{-INFINITY}));
}

TEST(CssWindowSeparationTest, InputHasMarginsAndTheMixtureIsACopy) {
  const std::vector<float> recording = {1, 2, 3, 4, 5};
  const WindowSpan span = window_span(1, 5, 4, 2);  // samples 2..4, zero-filled to 4
  const at::Tensor input = network_input(common::samples_of(recording), span, 4, 2);
  ASSERT_EQ(input.sizes(), (at::IntArrayRef{1, 8}));
  EXPECT_TRUE(at::equal(input, at::tensor({0.f, 0.f, 3.f, 4.f, 5.f, 0.f, 0.f, 0.f}).reshape({1, 8})));
  const at::Tensor mixture = window_mixture(input, 4, 2);
  ASSERT_EQ(mixture.sizes(), (at::IntArrayRef{1, 1, 4}));
  input.fill_(-1.0f);  // what a network might do to its input
  EXPECT_TRUE(at::equal(mixture, at::tensor({3.f, 4.f, 5.f, 0.f}).reshape({1, 1, 4})));
}

}  // namespace
}  // namespace speech::css
