// load_checkpoint_for_inference and ensure_dir. Both work through the
// interpreter's own os and torch modules, looked up when called, so their
// errors reach the caller unchanged.
#include <pybind11/pybind11.h>

#include "bindings/leadvoice/css_parts.h"
#include "common/errors.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

const char* const kStateDictKey = "model_state_dict";

bool contains(const py::handle& container, const char* key) {
  const int found = PySequence_Contains(container.ptr(), py::str(key).ptr());
  if (found < 0) throw py::error_already_set();
  return found == 1;
}

void load_checkpoint_for_inference(const py::object& checkpoint_path, const py::object& model,
                                   const py::object& device) {
  const py::object isfile = py::module_::import("os").attr("path").attr("isfile");
  if (!isfile(checkpoint_path).cast<bool>()) {
    throw common::FileNotFoundError("Checkpoint not found: " + pyutil::py_str(checkpoint_path));
  }
  const py::object load = py::module_::import("torch").attr("load");
  const py::object checkpoint = load(checkpoint_path, py::arg("map_location") = device);
  const py::object state = contains(checkpoint, kStateDictKey) ? py::object(checkpoint[kStateDictKey]) : checkpoint;
  model.attr("load_state_dict")(state);
}

void ensure_dir(const py::object& path) {
  const int truth = PyObject_IsTrue(path.ptr());
  if (truth < 0) throw py::error_already_set();
  if (truth == 0) return;
  py::module_::import("os").attr("makedirs")(path, py::arg("exist_ok") = true);
}

}  // namespace

void bind_checkpoint(py::module_& m) {
  pyutil::def_function(m, "load_checkpoint_for_inference", &load_checkpoint_for_inference, py::arg("checkpoint_path"),
                       py::arg("model"), py::arg("device"), "加载模型检查点");
  pyutil::def_function(m, "ensure_dir", &ensure_dir, py::arg("path"), "确保目录存在");
}

}  // namespace speech::css_binding
