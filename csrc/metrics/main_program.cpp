#include "metrics/main_program.h"

namespace speech::metrics {

MainProgramTensors run_main_program() {
  at::manual_seed(0);
  // Drawn one after the other from the same stream, in the default dtype.
  at::Tensor sources = at::randn({3, 3, 5});
  at::Tensor est_sources = at::randn({3, 3, 5});
  return {sources, est_sources};
}

}  // namespace speech::metrics
