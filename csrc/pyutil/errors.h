#pragma once
// Translation of core errors into the interpreter's exceptions; every
// extension module registers it once in its init. A message that names a
// path that is not valid UTF-8 keeps it as the interpreter spells it.
#include <pybind11/pybind11.h>

#include "common/errors.h"
#include "pyutil/py_print.h"

namespace speech {

inline void set_error(PyObject* type, const char* what) {
  try {
    PyErr_SetObject(type, utf8_text(what).ptr());
  } catch (pybind11::error_already_set& e) {
    e.restore();
  }
}

inline void register_error_translation() {
  pybind11::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const ValueError& e) {
      set_error(PyExc_ValueError, e.what());
    } catch (const TypeError& e) {
      set_error(PyExc_TypeError, e.what());
    } catch (const FileNotFoundError& e) {
      set_error(PyExc_FileNotFoundError, e.what());
    } catch (const OSError& e) {
      set_error(PyExc_OSError, e.what());
    } catch (const AssertionError& e) {
      set_error(PyExc_AssertionError, e.what());
    }
  });
}

}  // namespace speech
