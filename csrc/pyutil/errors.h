#pragma once
// Translation of core errors into the interpreter's exceptions; every
// extension module registers it once in its init.
#include <pybind11/pybind11.h>

#include "common/errors.h"

namespace speech {

inline void register_error_translation() {
  pybind11::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const ValueError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const TypeError& e) {
      PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const FileNotFoundError& e) {
      PyErr_SetString(PyExc_FileNotFoundError, e.what());
    } catch (const OSError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    } catch (const AssertionError& e) {
      PyErr_SetString(PyExc_AssertionError, e.what());
    }
  });
}

}  // namespace speech
