#pragma once
// Every function and method of blendkit reads its collaborators (the outside
// modules, AUDIO_EXTS, the other module functions) from the package when it
// runs, so a patched utility.blendkit.<name> is the one that runs.
#include <pybind11/pybind11.h>

#include "pyutil/package_namespace.h"

namespace speech {

inline pybind11::object blendkit_attr(const char* name) { return pyutil::package_attr("utility.blendkit", name); }

}  // namespace speech
