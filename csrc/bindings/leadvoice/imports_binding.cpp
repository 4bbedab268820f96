#include "bindings/leadvoice/registration.h"

#include "pyutil/import_names.h"

namespace py = pybind11;

namespace speech {

// The dependencies are imported unguarded, in a fixed order, when the module
// loads: a missing installation fails the import at once, with its own error,
// rather than mid-run. Every function reaches them through these attributes
// at call time.
void bind_imports(py::module_& m) {
  m.attr("argparse") = py::module_::import("argparse");
  m.attr("os") = py::module_::import("os");
  m.attr("math") = py::module_::import("math");
  m.attr("sys") = py::module_::import("sys");
  m.attr("json") = py::module_::import("json");
  m.attr("tempfile") = py::module_::import("tempfile");
  m.attr("torch") = py::module_::import("torch");
  m.attr("sf") = py::module_::import("soundfile");
  pyutil::import_names(m, "typing", {"Dict", "List", "Optional", "Tuple"});
  m.attr("np") = py::module_::import("numpy");
  pyutil::import_names(m, "scipy.optimize", {"linear_sum_assignment"});
  pyutil::import_names(m, "utility", {"unmixer_core"});
  m.attr("wespeaker") = py::module_::import("wespeaker");
  pyutil::import_names(m, "silero_vad", {"load_silero_vad", "get_speech_timestamps"});
  // Process-wide cache of the voice-activity model, filled on first use.
  m.attr("_SILERO_VAD_MODEL") = py::none();
}

}  // namespace speech
