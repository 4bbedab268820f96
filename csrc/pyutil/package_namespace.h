#pragma once
// An extension module registers its names straight into the namespace of the
// package that is importing it, so the package holds the one and only copy of
// every module-level name and state: a rebinding of package.<name> is what
// every function sees, and no stale copy lives in the extension.
#include <pybind11/pybind11.h>

#include <string>

namespace speech::pyutil {

// The package `name`, which is being initialised while its extension loads.
inline pybind11::module_ package_namespace(const char* name) {
  const pybind11::dict modules = pybind11::module_::import("sys").attr("modules");
  if (!modules.contains(name)) {
    throw pybind11::import_error(std::string("the extension must be imported through its package ") + name);
  }
  return pybind11::reinterpret_borrow<pybind11::module_>(modules[name]);
}

// The package that holds `extension`, named by the extension's own dotted
// name (package.<extension>).
inline pybind11::module_ package_namespace(const pybind11::module_& extension) {
  const std::string name = pybind11::str(extension.attr("__name__")).cast<std::string>();
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    throw pybind11::import_error("the extension " + name + " must be imported through its package");
  }
  return package_namespace(name.substr(0, dot).c_str());
}

// The package `name`, importing it when it is not loaded yet.
inline pybind11::module_ loaded_package(const char* name) {
  const pybind11::dict modules = pybind11::module_::import("sys").attr("modules");
  if (modules.contains(name)) return pybind11::reinterpret_borrow<pybind11::module_>(modules[name]);
  return pybind11::module_::import(name);
}

// package.<attr>, read now: what a module-level name lookup of the package's
// own code would find, so a rebinding of that name is what every call sees.
inline pybind11::object package_attr(const char* package, const char* attr) {
  return loaded_package(package).attr(attr);
}

}  // namespace speech::pyutil
