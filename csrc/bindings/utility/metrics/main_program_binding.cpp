#include <torch/extension.h>

#include "bindings/utility/metrics/registration.h"
#include "metrics/main_program.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

// Leaves `sources` and `est_sources` in the caller's namespace, the globals
// of the module running as the main program.
void run_main(py::dict namespace_) {
  const metrics::MainProgramTensors tensors = metrics::run_main_program();
  namespace_["sources"] = tensors.sources;
  namespace_["est_sources"] = tensors.est_sources;
}

}  // namespace

void bind_main_program(py::module_& m) {
  pyutil::def_function(m, "_run_main", &run_main, "Run the module's main-program steps into the given globals.",
                       py::arg("namespace"));
}

}  // namespace speech
