#pragma once
#include <pybind11/pybind11.h>

namespace speech {

// Outside packages the module imports when it is loaded.
void bind_imports(pybind11::module_& m);
// SpeakerTracker, cosine_similarity.
void bind_tracker(pybind11::module_& m);
// CSSProcessor, calculate_sisdr, Calculate_Scale, load_checkpoint_for_inference, ensure_dir.
void bind_css(pybind11::module_& m);
// The module's `librosa`: the project's resampler (librosa is not a dependency).
void bind_resample(pybind11::module_& m);
// Logger, select_main_channel, task list, command line, main, level functions.
void bind_driver(pybind11::module_& m);

}  // namespace speech
