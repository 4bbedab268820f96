#pragma once
// Module-level names (the neighbours' classes and functions, the outside
// modules, the pipeline's own functions) are read from the triageflow package
// when a function runs, so a rebinding of triageflow.<name> is what every
// call sees, as it would be for a module-level name in the interpreter.
#include <pybind11/pybind11.h>

#include "pyutil/package_namespace.h"

namespace speech {

inline constexpr const char* kTriagePackage = "triageflow";

inline pybind11::object triage_attr(const char* name) { return pyutil::package_attr(kTriagePackage, name); }

}  // namespace speech
