#pragma once
// Raising an interpreter exception from C++ as a `raise` statement would:
// the pending exception is set here, in one place, and the C++ side unwinds
// with pybind11's error_already_set. Texts cross as UTF-8 whose undecodable
// bytes (a path's) become surrogate escapes, so a path that is not valid
// UTF-8 is named as the interpreter spells it.
#include <pybind11/pybind11.h>

#include <string>

#include "pyutil/py_print.h"

namespace speech::pyutil {

// The pending exception becomes `exception` (an instance), raised as its own
// class, as `raise exception` does; an OSError built from an error number
// is then the subclass that the number stands for.
inline void set_pending(const pybind11::handle& exception) {
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
}

// raise type(text)
[[noreturn]] inline void raise_error(PyObject* type, const std::string& text) {
  PyErr_SetObject(type, utf8_text(text).ptr());
  throw pybind11::error_already_set();
}

// raise type, with no arguments at all: args is (), and str() of it is "".
[[noreturn]] inline void raise_bare(PyObject* type) {
  PyErr_SetNone(type);
  throw pybind11::error_already_set();
}

// raise exception, for an instance built by the caller.
[[noreturn]] inline void raise_instance(const pybind11::handle& exception) {
  set_pending(exception);
  throw pybind11::error_already_set();
}

}  // namespace speech::pyutil
