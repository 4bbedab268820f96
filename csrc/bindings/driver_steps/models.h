#pragma once
// What both drivers build from their options: the separation network once
// per run, the speaker tracker once per run, and a CSSProcessor around both
// for every recording they separate. Every class is the one the driver's
// package holds at call time.
#include <pybind11/pybind11.h>

namespace speech {

// The run-wide objects every CSSProcessor of a run borrows.
struct SeparationModels {
  pybind11::object device;
  pybind11::object network;
  pybind11::object tracker;
};

// triageflow switches the object that `to` returns to evaluation mode,
// leadvoice the network it built; for a torch module they are one object.
enum class EvalTarget { kMovedNetwork, kBuiltNetwork };

// unmixer_core.TFLocoformerSEP(), its checkpoint loaded by
// load_checkpoint_for_inference before it moves to `device`.
pybind11::object load_separation_network(const char* package, const pybind11::object& checkpoint,
                                         const pybind11::object& device, EvalTarget eval_target);

// SpeakerTracker from the six tuning options, with the history-keeping EMA
// update.
pybind11::object tracker_from_options(const char* package, const pybind11::object& args);

// CSSProcessor from the window and threshold options, at `sample_rate`,
// without a per-window dump.
pybind11::object processor_from_options(const char* package, const pybind11::object& args,
                                        const SeparationModels& models, const pybind11::object& sample_rate);

}  // namespace speech
