#include "bindings/leadvoice/registration.h"

namespace speech {

void bind_resample(pybind11::module_& m) { m.attr("librosa") = pybind11::module_::import("speech_resample").attr("librosa"); }

}  // namespace speech
