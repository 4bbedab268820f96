#pragma once
// An extension module registers its names straight into the namespace of the
// package that is importing it, so the package holds the one and only copy of
// every module-level name and state: a rebinding of package.<name> is what
// every function sees, and no stale copy lives in the extension.
#include <pybind11/pybind11.h>

#include <string>

namespace speech {

// The package `name`, which is being initialised while its extension loads.
inline pybind11::module_ package_namespace(const char* name) {
  const pybind11::dict modules = pybind11::module_::import("sys").attr("modules");
  if (!modules.contains(name)) {
    throw pybind11::import_error(std::string("the extension must be imported through its package ") + name);
  }
  return pybind11::reinterpret_borrow<pybind11::module_>(modules[name]);
}

}  // namespace speech
