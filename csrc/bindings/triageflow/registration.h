#pragma once
// The module's names, registered into the package in the module's order.
#include <pybind11/pybind11.h>

namespace speech {

// argparse, json, os, sys, OrderedDict, np, sf, torch, librosa, the detector
// network, leadvoice's six names, unmixer_core.
void bind_triage_imports(pybind11::module_& m);
void define_parse_args(pybind11::module_& m);
void define_parse_scp(pybind11::module_& m);
void define_load_audio(pybind11::module_& m);
void define_detector(pybind11::module_& m);
void define_separation(pybind11::module_& m);
void define_triage_main(pybind11::module_& m);

}  // namespace speech
