#pragma once
// What the metrics module does when it runs as the main module: two random
// (3, 3, 5) tensors from the global generator seeded with 0, and nothing else.
#include <ATen/ATen.h>

namespace speech::metrics {

struct MainProgramTensors {
  at::Tensor sources;
  at::Tensor est_sources;
};

MainProgramTensors run_main_program();

}  // namespace speech::metrics
