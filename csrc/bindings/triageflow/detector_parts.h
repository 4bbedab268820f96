#pragma once
// The detector's logits of one long utterance in bounded memory: the
// package's own detector network runs its trunk stretch by stretch, so what a
// call holds at once is one stretch's work whatever the utterance's length.
#include <ATen/ATen.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>

namespace speech {

// Stretches of this many spectrogram frames (about 16 s of audio at the
// detector's defaults): long enough that the trunk's overlap costs little,
// short enough that one stretch's activations stay a few hundred megabytes.
constexpr int64_t kDetectorStretchFrames = 1024;

// Notes the detector module's classes (the network, its trunk, its blocks,
// the statistics pooling) and the layers of torch.nn they are built of, as
// they are when triageflow is made.
void remember_own_detector_classes();

// The [1, 2] logits of `model` on the 1-D array `audio_16k`, stretch by
// stretch, equal to one whole forward up to float rounding. None where the
// whole forward is what runs: input that is not a 1-D array; a network that
// is not of the package's own NoisyDetectorV2 class as noted (a replacement,
// a subclass, a class rebound before triageflow was made) or whose call is
// not its own forward alone (a forward replaced on the class or the
// instance, a hook on it, on one of its layers or for every module); a
// changed network (a layer in training mode, another trunk, pooling or
// layer); input that fits in one stretch of
// triageflow._DETECTOR_STRETCH_FRAMES frames; or any error on the
// stretches' way, which is said once on the console.
std::optional<at::Tensor> stretched_logits(const pybind11::object& model, const pybind11::object& audio_16k,
                                           const pybind11::object& device);

}  // namespace speech
