#include "bindings/leadvoice/registration.h"

namespace speech {

// The outside packages are imported unguarded when the module loads, so a
// missing installation fails at import time rather than mid-run.
void bind_imports(pybind11::module_& m) { m.attr("wespeaker") = pybind11::module_::import("wespeaker"); }

}  // namespace speech
