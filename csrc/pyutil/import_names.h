#pragma once
// `from <module_name> import <names>` into a module's namespace, as the
// interpreter does it: sub-modules named in the list are loaded, and a name
// the module lacks is the interpreter's ImportError with its own text.
#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>

#include "pyutil/py_print.h"
#include "pyutil/raise_error.h"

namespace speech::pyutil {

inline void import_names(pybind11::module_& m, const char* module_name, std::initializer_list<const char*> names) {
  namespace py = pybind11;
  py::list fromlist;
  for (const char* name : names) fromlist.append(name);
  const py::object source =
      py::module_::import("builtins").attr("__import__")(module_name, py::none(), py::none(), fromlist, 0);
  for (const char* name : names) {
    if (!py::hasattr(source, name)) {
      const py::object file = py::getattr(source, "__file__", py::none());
      std::string text = std::string("cannot import name '") + name + "' from '" + module_name + "'";
      text += file.is_none() ? " (unknown location)" : " (" + py_str(file) + ")";
      raise_error(PyExc_ImportError, text);
    }
    m.attr(name) = source.attr(name);
  }
}

}  // namespace speech::pyutil
