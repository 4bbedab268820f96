#include "bindings/utility/metrics/registration.h"

namespace speech {

// Imported unguarded, so a broken installation fails the module's import.
void bind_metrics_imports(pybind11::module_& m) {
  m.attr("torch") = pybind11::module_::import("torch");
  m.attr("permutations") = pybind11::module_::import("itertools").attr("permutations");
}

}  // namespace speech
