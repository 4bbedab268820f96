// The metrics extension module: batched SI-SDR, the pairwise SI-SDR matrix
// and the permutation-invariant loss, all on torch tensors.
#include <pybind11/pybind11.h>

#include "bindings/utility/metrics/registration.h"
#include "pyutil/errors.h"

PYBIND11_MODULE(_metrics, m) {
  pybind11::options options;
  // Each function's docstring carries its own signature (pyutil/text_signature.h).
  options.disable_function_signatures();
  speech::pyutil::register_error_translation();
  // torch must be loaded before any tensor crosses the edge.
  speech::bind_metrics_imports(m);
  speech::bind_sisdr(m);
  speech::bind_pit(m);
  speech::bind_main_program(m);
}
