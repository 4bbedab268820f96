#pragma once
#include <pybind11/pybind11.h>

namespace speech {

// The module globals `torch` and `permutations`.
void bind_metrics_imports(pybind11::module_& m);
// Calculate_SISDR, Parwise_SISDR.
void bind_sisdr(pybind11::module_& m);
// PIT.
void bind_pit(pybind11::module_& m);
// _run_main: the main-module program, run by the package's __main__.
void bind_main_program(pybind11::module_& m);

}  // namespace speech
