#pragma once
// Module-level collaborators (cosine_similarity, rms_level, the VAD model
// variable, the outside modules, ...) are read from the leadvoice package at
// call time, so a patch of leadvoice.<name> takes effect, as it would for a
// module-level name in the interpreter.
#include <pybind11/pybind11.h>

#include "pyutil/package_namespace.h"

namespace speech {

inline pybind11::module_ leadvoice_module() { return pyutil::loaded_package("leadvoice"); }

inline pybind11::object leadvoice_attr(const char* name) { return pyutil::package_attr("leadvoice", name); }

}  // namespace speech
