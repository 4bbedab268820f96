#pragma once
// Translation of core errors into the interpreter's exceptions; every
// extension module registers it once in its init. A message that names a
// path that is not valid UTF-8 keeps it as the interpreter spells it.
//
// An audio file's failure (SndfileError, common/wav_io.h) is an OSError
// whose message names the file; a failed system call (SystemCallError) is
// the OSError subclass of its error number.
#include <pybind11/pybind11.h>

#include "common/errors.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/raise_error.h"

namespace speech::pyutil {

// The pending exception is type(what). A translator must leave an exception
// pending, whatever happens: a failure to build this one stays pending
// instead.
inline void set_error(PyObject* type, const char* what) {
  try {
    raise_error(type, what);
  } catch (pybind11::error_already_set& e) {
    e.restore();
  }
}

// OSError(errno, strerror, filename), or OSError(errno, strerror) for a call
// about no path: the interpreter picks the subclass that the number stands
// for, as its own failed calls do. The path is shown as the interpreter shows
// a file-system name, so any bytes can be named.
inline void set_system_call_error(const common::SystemCallError& e) {
  namespace py = pybind11;
  try {
    const py::object os_error = py::reinterpret_borrow<py::object>(PyExc_OSError);
    raise_instance(e.path.empty() ? os_error(e.error_number, e.what())
                                  : os_error(e.error_number, e.what(), fs_decode(e.path)));
  } catch (py::error_already_set& error) {
    error.restore();
  }
}

inline void register_error_translation() {
  pybind11::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const common::ValueError& e) {
      set_error(PyExc_ValueError, e.what());
    } catch (const common::TypeError& e) {
      set_error(PyExc_TypeError, e.what());
    } catch (const common::FileNotFoundError& e) {
      set_error(PyExc_FileNotFoundError, e.what());
    } catch (const common::SystemCallError& e) {
      set_system_call_error(e);
    } catch (const common::OSError& e) {
      set_error(PyExc_OSError, e.what());
    } catch (const common::AssertionError& e) {
      set_error(PyExc_AssertionError, e.what());
    } catch (const common::ZeroDivisionError& e) {
      set_error(PyExc_ZeroDivisionError, e.what());
    }
  });
}

}  // namespace speech::pyutil
