// The blendkit extension module: corpus indexing, validation sets and the
// simulated training-mixture stream. Every name is defined in the package's
// own namespace, in the order the module binds them.
#include <pybind11/pybind11.h>

#include "bindings/utility/blendkit/registration.h"
#include "pyutil/errors.h"
#include "pyutil/package_namespace.h"

PYBIND11_MODULE(_blendkit, m) {
  pybind11::options options;
  // Each function's docstring carries its own signature (pyutil/text_signature.h).
  options.disable_function_signatures();
  speech::pyutil::register_error_translation();
  // torch must be loaded before any tensor crosses the edge.
  pybind11::module_::import("torch");
  pybind11::module_ package = speech::pyutil::package_namespace(m);
  speech::bind_blendkit_imports(package);
  speech::bind_corpus_index(package);
  speech::bind_signal_functions(package);
  speech::bind_mixture_dataset(package);
  speech::bind_validation_sets(package);
  speech::bind_demonstration(m);
}
