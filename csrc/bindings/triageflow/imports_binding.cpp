#include "bindings/triageflow/registration.h"
#include "pyutil/import_names.h"

namespace py = pybind11;

namespace speech {

// The libraries and neighbours are imported unguarded, in a fixed order, when
// the module loads: one that is missing fails the import at once with its own
// error, before any argument is parsed. librosa is not a dependency: its name
// is the project's resampler.
void bind_triage_imports(py::module_& m) {
  m.attr("argparse") = py::module_::import("argparse");
  m.attr("json") = py::module_::import("json");
  m.attr("os") = py::module_::import("os");
  m.attr("sys") = py::module_::import("sys");
  pyutil::import_names(m, "collections", {"OrderedDict"});
  m.attr("np") = py::module_::import("numpy");
  m.attr("sf") = py::module_::import("soundfile");
  m.attr("torch") = py::module_::import("torch");
  m.attr("librosa") = py::module_::import("speech_resample").attr("librosa");
  pyutil::import_names(m, "multi_speaker_detector.resnet.resnet", {"NoisyDetectorV2"});
  pyutil::import_names(m, "leadvoice",
                       {"Logger", "SpeakerTracker", "CSSProcessor", "select_main_channel",
                        "load_checkpoint_for_inference", "ensure_dir"});
  pyutil::import_names(m, "utility", {"unmixer_core"});
}

}  // namespace speech
