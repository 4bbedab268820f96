#pragma once
// Module-level collaborators (cosine_similarity, rms_level, the VAD model
// variable, the outside modules, ...) are read from the leadvoice package at
// call time, so a patch of leadvoice.<name> takes effect, as it would for a
// module-level name in the interpreter.
#include <pybind11/pybind11.h>

namespace speech {

inline pybind11::object leadvoice_module() {
  const pybind11::dict modules = pybind11::module_::import("sys").attr("modules");
  if (modules.contains("leadvoice")) return modules["leadvoice"];
  return pybind11::module_::import("leadvoice");
}

inline pybind11::object leadvoice_attr(const char* name) { return leadvoice_module().attr(name); }

}  // namespace speech
