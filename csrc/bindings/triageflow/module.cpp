// The triageflow extension module: the detection-gated batch pipeline. Every
// name is defined in the package's own namespace, in the order the module
// binds them.
#include <pybind11/pybind11.h>

#include "bindings/triageflow/registration.h"
#include "pyutil/errors.h"
#include "pyutil/package_namespace.h"

PYBIND11_MODULE(_triageflow, m) {
  pybind11::options options;
  // Each function's docstring carries its own signature (pyutil/text_signature.h).
  options.disable_function_signatures();
  speech::pyutil::register_error_translation();
  // torch must be loaded before any tensor crosses the edge.
  pybind11::module_::import("torch");
  pybind11::module_ package = speech::pyutil::package_namespace(m);
  speech::bind_triage_imports(package);
  speech::define_parse_args(package);
  speech::define_parse_scp(package);
  speech::define_load_audio(package);
  speech::define_detector(package);
  speech::define_separation(package);
  speech::define_triage_main(package);
}
