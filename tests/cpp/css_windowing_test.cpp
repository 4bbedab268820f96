#include <gtest/gtest.h>

#include <vector>

#include "common/errors.h"
#include "css/windowing.h"

namespace speech::css {
namespace {

struct CountCase {
  int64_t total;
  int64_t expected;
};

TEST(CssWindowingTest, CountsAtDefaultLayout) {
  const CountCase cases[] = {{0, -1}, {19200, 0}, {19201, 1}, {38400, 1}, {38401, 2}, {57601, 3}, {160000, 8}};
  for (const CountCase& c : cases) EXPECT_EQ(count_windows(c.total, 38400, 19200), c.expected) << c.total;
}

TEST(CssWindowingTest, NoHopIsADivisionByZero) {
  for (const int64_t total : {0, 100, 38400}) {
    try {
      count_windows(total, 38400, 0);
      ADD_FAILURE() << "counted windows of no hop for " << total;
    } catch (const common::ZeroDivisionError& e) {
      EXPECT_STREQ(e.what(), "division by zero");
    }
  }
}

TEST(CssWindowingTest, LastWindowEndsAtTheRecordingsEnd) {
  for (const int64_t total : {38401, 57601, 160000, 160001, 1000003}) {
    const int64_t count = count_windows(total, 38400, 19200);
    const WindowSpan last = window_span(count - 1, total, 38400, 19200);
    EXPECT_EQ(last.end(), total) << total;
    EXPECT_GT(last.actual_len, 38400 - 19200) << total;  // both stitching ramps fit
    EXPECT_LT(window_span(count - 2, total, 38400, 19200).end(), total) << total;
  }
}

TEST(CssWindowingTest, StartPastTheEndHoldsNothing) {
  // hop > seg: a window can start beyond the recording, as a slice would allow.
  const WindowSpan span = window_span(2, 100, 10, 80);
  EXPECT_EQ(span.start, 160);
  EXPECT_EQ(span.actual_len, 0);
}

TEST(CssWindowingTest, NetworkInputHasMarginsAndZeroFill) {
  const std::vector<double> recording = {1, 2, 3, 4, 5, 6, 7};
  std::vector<float> input(6 + 2 * 2, -1.0f);
  // Every other sample, as a strided view would give it.
  const WindowSpan span = window_span(1, 4, 6, 2);  // samples 2 and 3 of the strided view
  fill_network_input(common::SampleView<const double>(recording.data(), 4, 2), span, 6, 2, input.data());
  EXPECT_EQ(input, (std::vector<float>{0, 0, 5, 7, 0, 0, 0, 0, 0, 0}));
}

TEST(CssWindowingTest, LayoutsThatWouldReadOutsideAreRefused) {
  EXPECT_NO_THROW(check_window_layout(38400, 19200, 9600));
  EXPECT_NO_THROW(check_window_layout(1, 0, 0));
  EXPECT_THROW(check_window_layout(0, 19200, 0), common::ValueError);
  EXPECT_THROW(check_window_layout(38400, -1, 0), common::ValueError);
  EXPECT_THROW(check_window_layout(38400, 19200, -1), common::ValueError);
}

}  // namespace
}  // namespace speech::css
