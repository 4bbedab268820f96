// The leadvoice extension module: speaker tracking, the separation processor
// and the main-speaker driver. Each area registers its own names.
#include <pybind11/pybind11.h>

#include "bindings/leadvoice/registration.h"
#include "pyutil/errors.h"

PYBIND11_MODULE(_leadvoice, m) {
  pybind11::options options;
  options.disable_function_signatures();
  speech::register_error_translation();
  // torch must be loaded before any tensor crosses the edge.
  pybind11::module_::import("torch");
  speech::bind_imports(m);
  speech::bind_tracker(m);
  speech::bind_css(m);
  speech::bind_resample(m);
  speech::bind_driver(m);
}
