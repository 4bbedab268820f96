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

// OSError(errno, strerror, filename): the interpreter picks the subclass that
// the number stands for, as its own failed calls do.
inline void set_system_call_error(const SystemCallError& e) {
  // The path as the interpreter shows a file-system name: decoded with
  // surrogate escapes, so any bytes can be named.
  PyObject* const filename = PyUnicode_DecodeFSDefaultAndSize(e.path.data(), static_cast<Py_ssize_t>(e.path.size()));
  if (!filename) return;  // the decoding error stays pending instead
  PyObject* const exception = PyObject_CallFunction(PyExc_OSError, "isN", e.error_number, e.what(), filename);
  if (!exception) return;
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception)), exception);
  Py_DECREF(exception);
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
    } catch (const SystemCallError& e) {
      set_system_call_error(e);
    } catch (const OSError& e) {
      set_error(PyExc_OSError, e.what());
    } catch (const AssertionError& e) {
      set_error(PyExc_AssertionError, e.what());
    }
  });
}

}  // namespace speech
