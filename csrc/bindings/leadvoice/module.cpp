// The leadvoice extension module: speaker tracking, the separation processor
// and the main-speaker driver. Each area registers its own names.
#include <pybind11/pybind11.h>

#include "bindings/leadvoice/registration.h"
#include "pyutil/errors.h"
#include "pyutil/package_namespace.h"

PYBIND11_MODULE(_leadvoice, m) {
  pybind11::options options;
  // Each function's docstring carries its own signature (pyutil/text_signature.h).
  options.disable_function_signatures();
  speech::pyutil::register_error_translation();
  // torch must be loaded before any tensor crosses the edge.
  pybind11::module_::import("torch");
  pybind11::module_ package = speech::pyutil::package_namespace(m);
  speech::bind_imports(package);
  speech::bind_tracker(package);
  speech::bind_css(package);
  speech::bind_resample(package);
  speech::bind_driver(package);
}
