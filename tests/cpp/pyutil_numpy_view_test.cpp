// Which NumPy arrays C++ may read in place: their samples' type, their
// layout and their alignment, as NumPy's own flags tell them.
#include <gtest/gtest.h>
#include <pybind11/embed.h>
#include <pybind11/numpy.h>

#include "interpreter.h"
#include "pyutil/numpy_view.h"

namespace speech::pyutil {
namespace {

namespace py = pybind11;

struct LayoutCase {
  const char* array;
  bool as_float32;
  bool as_float64;
};

class NumpyView : public InterpreterTest {};

TEST_F(NumpyView, SamplesReadInPlaceOnlyWhereNumpyHasThemContiguousAndAligned) {
  const LayoutCase cases[] = {
      {"np.zeros(8, np.float32)", true, false},
      {"np.zeros(8)", false, true},
      {"np.zeros(8, np.float32)[::2]", false, false},
      {"np.zeros((3, 4), np.float32)", true, false},
      {"np.zeros((3, 4), np.float32, order='F')", false, false},
      {"np.zeros(4, np.dtype('>f4'))", false, false},
      {"np.frombuffer(bytes(33), np.float32, 8, 1)", false, false},
      {"np.frombuffer(bytes(33), np.float64, 4, 1)", false, false},
      {"np.zeros(0, np.float32)", true, false},
  };
  for (const LayoutCase& c : cases) {
    const py::array array = eval(c.array);
    // NumPy's own verdict, so the cases stay honest.
    const bool numpy_says = eval("lambda a: a.flags.c_contiguous and a.flags.aligned")(array).cast<bool>();
    EXPECT_EQ(holds_aligned_samples<float>(array), c.as_float32) << c.array;
    EXPECT_EQ(holds_aligned_samples<double>(array), c.as_float64) << c.array;
    if (c.as_float32 || c.as_float64) {
      EXPECT_TRUE(numpy_says) << c.array;
    }
  }
}

}  // namespace
}  // namespace speech::pyutil
