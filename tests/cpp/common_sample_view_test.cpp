// The core's sample views and what reads them: strides in samples either
// way, the contiguity that block loops need, copies and finiteness.
#include "common/sample_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "common/finite_samples.h"

namespace speech::common {
namespace {

TEST(SampleView, StridesEitherWayAndSubviews) {
  std::vector<float> interleaved = {0, 10, 1, 11, 2, 12, 3, 13};
  const SampleView<float> left(interleaved.data(), 4, 2);
  const SampleView<const float> right_backwards(interleaved.data() + 7, 4, -2);
  EXPECT_EQ(left[3], 3.0f);
  EXPECT_EQ(right_backwards[0], 13.0f);
  EXPECT_EQ(right_backwards[3], 10.0f);
  const SampleView<const float> middle = right_backwards.subview(1, 2);
  EXPECT_EQ(middle.size(), 2);
  EXPECT_EQ(middle[0], 12.0f);
  EXPECT_EQ(middle[1], 11.0f);
  left[0] = -1.0f;  // a writable view writes through
  const SampleView<const float> read_only = left;
  EXPECT_EQ(read_only[0], -1.0f);
}

TEST(SampleView, BlockLoopsRefuseAStride) {
  const std::vector<double> x = {1, 2, 3, 4};
  EXPECT_EQ(samples_of(x).contiguous_data(), x.data());
  EXPECT_EQ(SampleView<const double>(x.data(), 1, 3).contiguous_data(), x.data());  // one sample has no neighbours
  EXPECT_THROW(SampleView<const double>(x.data(), 2, 2).contiguous_data(), std::invalid_argument);
  EXPECT_TRUE(SampleView<const double>().empty());
}

TEST(SampleView, CopiesStridedAndContiguousRuns) {
  const std::vector<int> x = {1, 2, 3, 4, 5, 6};
  std::vector<int> out(3);
  copy_samples(SampleView<const int>(x.data() + 5, 3, -2), out.data());
  EXPECT_EQ(out, (std::vector<int>{6, 4, 2}));
  copy_samples(samples_of(x).subview(2, 3), out.data());
  EXPECT_EQ(out, (std::vector<int>{3, 4, 5}));
}

template <typename T>
class FiniteSamples : public ::testing::Test {};
using FloatTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FiniteSamples, FloatTypes);

// The first NaN or infinity is found wherever it lies: in the first block, on
// either side of a block's border, at the very end, and through a stride;
// the largest finite values are not taken for one.
TYPED_TEST(FiniteSamples, FirstNonFiniteWhereverItLies) {
  using T = TypeParam;
  const T inf = std::numeric_limits<T>::infinity();
  const T nan = std::numeric_limits<T>::quiet_NaN();
  const T big = std::numeric_limits<T>::max();
  const struct {
    int64_t size;
    int64_t at;
    T value;
  } cases[] = {{1, 0, nan},        {3, 1, inf},          {3, 0, -inf},         {5000, 0, nan},
               {5000, 1023, -inf}, {5000, 1024, nan},    {5000, 3333, inf},    {5000, 4999, -inf}};
  for (const auto& c : cases) {
    std::vector<T> x(static_cast<size_t>(c.size), big);
    x[static_cast<size_t>(c.at)] = c.value;
    if (c.at + 1 < c.size) x.back() = nan;  // a later one does not count
    EXPECT_EQ(first_non_finite_index(samples_of(x)), std::optional<int64_t>(c.at)) << c.size << " " << c.at;
    EXPECT_FALSE(all_finite(samples_of(x)));
  }
  const std::vector<T> fine = {T(0), T(-1), big, -big, std::numeric_limits<T>::denorm_min()};
  EXPECT_TRUE(all_finite(samples_of(fine)));
  EXPECT_TRUE(all_finite(SampleView<const T>()));
  const std::vector<T> strided = {T(1), nan, T(2), nan, inf};
  EXPECT_EQ(first_non_finite_index(SampleView<const T>(strided.data(), 3, 2)), std::optional<int64_t>(2));
}

}  // namespace
}  // namespace speech::common
