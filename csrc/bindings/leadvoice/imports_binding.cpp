#include "bindings/leadvoice/registration.h"

#include <initializer_list>
#include <string>

namespace py = pybind11;

namespace speech {
namespace {

// `from <module_name> import <names>`: sub-modules named in the list are
// loaded, and a name the module lacks is the interpreter's ImportError.
void import_names(py::module_& m, const char* module_name, std::initializer_list<const char*> names) {
  py::list fromlist;
  for (const char* name : names) fromlist.append(name);
  const py::object source = py::module_::import("builtins")
                                .attr("__import__")(module_name, py::none(), py::none(), fromlist, 0);
  for (const char* name : names) {
    if (!py::hasattr(source, name)) {
      const py::object file = py::getattr(source, "__file__", py::none());
      std::string text = std::string("cannot import name '") + name + "' from '" + module_name + "'";
      text += file.is_none() ? " (unknown location)" : " (" + py::str(file).cast<std::string>() + ")";
      PyErr_SetObject(PyExc_ImportError, py::str(text).ptr());
      throw py::error_already_set();
    }
    m.attr(name) = source.attr(name);
  }
}

}  // namespace

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
  import_names(m, "typing", {"Dict", "List", "Optional", "Tuple"});
  m.attr("np") = py::module_::import("numpy");
  import_names(m, "scipy.optimize", {"linear_sum_assignment"});
  import_names(m, "utility", {"unmixer_core"});
  m.attr("wespeaker") = py::module_::import("wespeaker");
  import_names(m, "silero_vad", {"load_silero_vad", "get_speech_timestamps"});
  // Process-wide cache of the voice-activity model, filled on first use.
  m.attr("_SILERO_VAD_MODEL") = py::none();
}

}  // namespace speech
