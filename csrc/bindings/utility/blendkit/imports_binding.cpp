#include "bindings/utility/blendkit/registration.h"
#include "pyutil/import_names.h"

namespace py = pybind11;

namespace speech {

// Imported unguarded, in a fixed order, when the module loads: a missing
// installation fails the import at once with its own error. Every function
// reaches them through these names at call time. librosa is not a
// dependency: its name is the project's resampler.
void bind_blendkit_imports(py::module_& m) {
  m.attr("os") = py::module_::import("os");
  m.attr("glob") = py::module_::import("glob");
  m.attr("random") = py::module_::import("random");
  pyutil::import_names(m, "typing", {"Dict", "List", "Optional", "Tuple", "Iterator", "Callable"});
  m.attr("np") = py::module_::import("numpy");
  m.attr("sf") = py::module_::import("soundfile");
  m.attr("librosa") = py::module_::import("speech_resample").attr("librosa");
  m.attr("torch") = py::module_::import("torch");
  m.attr("argparse") = py::module_::import("argparse");
  m.attr("data") = py::module_::import("torch.utils.data");
  pyutil::import_names(m, "torch.utils.data", {"DataLoader"});
  pyutil::import_names(m, "torch.utils.data", {"IterableDataset"});
  pyutil::import_names(m, "torch.nn.utils.rnn", {"pad_sequence"});
  m.attr("dist") = py::module_::import("torch.distributed");
  m.attr("pd") = py::module_::import("pandas");
  m.attr("AUDIO_EXTS") = py::make_tuple(".wav", ".flac", ".sph", ".mp3");
}

}  // namespace speech
