#pragma once
#include <pybind11/pybind11.h>

namespace speech {

// Each registers its names into the blendkit package's namespace, in the
// order the module defines them.

// The outside packages under their module-level names, then AUDIO_EXTS.
void bind_blendkit_imports(pybind11::module_& m);
// collect_files, collect_rir_hierarchy, find_audio_files_by_speaker, combine_speaker_mappings.
void bind_corpus_index(pybind11::module_& m);
// _safe_sf_read, _load_audio, _fft_convolve, rms, preserve_rms, _scale_for_sir, _mix_noise_at_snr.
void bind_signal_functions(pybind11::module_& m);
// IterableSeparationDataset.
void bind_mixture_dataset(pybind11::module_& m);
// ValidationDataset_1mix ... ValidationDataset_4mix.
void bind_validation_sets(pybind11::module_& m);
// The demonstration program's entry, on the extension module itself: the
// package launcher calls it; it is not one of the package's names.
void bind_demonstration(pybind11::module_& m);

}  // namespace speech
