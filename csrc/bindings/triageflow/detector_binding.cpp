// MultiSpeakerDetector: the detector network with its checkpoint's weights,
// and the multi-speaker rate of one whole utterance. Each class score gets
// its own sigmoid; the rate is class 1's share of the two. A long utterance
// goes through the package's own network stretch by stretch, so an hour of
// audio takes no more memory than a minute; any other network (another
// class than the package's own as it was when the module was made, a
// replaced forward, a hook) gets the one whole forward.
#include <ATen/ATen.h>
#include <pybind11/pybind11.h>
#include <torch/csrc/utils/pybind.h>

#include <optional>
#include <string>

#include "bindings/triageflow/detector_parts.h"
#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/registration.h"
#include "common/errors.h"
#include "common/file_kind.h"
#include "pyutil/fs_path.h"
#include "pyutil/plain_class.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"
#include "triage/messages.h"

namespace py = pybind11;

namespace speech {
namespace {

constexpr const char* kWrapperPrefix = "module.";

// The "model" weights with one leading wrapper prefix cut from each name, in
// the checkpoint's own order.
py::object cleaned_state_dict(const py::object& ckpt) {
  const py::object weights = ckpt["model"];
  py::object cleaned = triage_attr("OrderedDict")();
  const py::str prefix(kWrapperPrefix);
  const auto cut = static_cast<py::ssize_t>(py::len(prefix));
  for (const py::handle item : weights.attr("items")()) {
    const py::object key = item[py::int_(0)];
    const bool prefixed = py::bool_(key.attr("startswith")(prefix));
    const py::object name = prefixed ? key[py::slice(cut, static_cast<py::ssize_t>(py::len(key)), 1)] : key;
    cleaned[name] = item[py::int_(1)];
  }
  return cleaned;
}

void detector_init(py::object self, py::object ckpt_path, py::object device) {
  self.attr("device") = device;
  // The network is placed before the checkpoint is looked at.
  self.attr("model") = triage_attr("NoisyDetectorV2")().attr("eval")().attr("to")(device);
  const std::string path = pyutil::fs_encode(ckpt_path);
  if (!common::is_regular_file(path)) throw common::FileNotFoundError(triage::detector_ckpt_missing_error(path));
  const py::object ckpt = triage_attr("torch").attr("load")(ckpt_path, py::arg("map_location") = device);
  self.attr("model").attr("load_state_dict")(cleaned_state_dict(ckpt));
  pyutil::py_print(triage::detector_loaded_line(path));
}

// The one forward over the whole utterance.
at::Tensor whole_logits(const py::object& self, const py::object& audio_16k) {
  const py::object torch = triage_attr("torch");
  // A float32 copy, so the caller's array is never touched.
  const py::object samples = audio_16k.attr("astype")(triage_attr("np").attr("float32"));
  const at::Device device = torch.attr("device")(self.attr("device")).cast<at::Device>();
  const at::Tensor audio_tensor =
      torch.attr("from_numpy")(samples).cast<at::Tensor>().unsqueeze(0).unsqueeze(1).to(device);
  return self.attr("model")(audio_tensor).cast<at::Tensor>();
}

py::object detector_predict(py::object self, py::object audio_16k) {
  std::optional<at::Tensor> logits = stretched_logits(self.attr("model"), audio_16k, self.attr("device"));
  if (!logits) logits = whole_logits(self, audio_16k);
  const at::Tensor prob = at::sigmoid(*logits);
  const at::Tensor rate = prob[0][1] / at::sum(prob);
  return py::float_(rate.cpu().item<double>());
}

}  // namespace

void define_detector(py::module_& m) {
  remember_own_detector_classes();
  m.attr("_DETECTOR_STRETCH_FRAMES") = py::int_(kDetectorStretchFrames);
  pyutil::PlainClass cls(m, "MultiSpeakerDetector", "多说话人检测器（NoisyDetectorV2）");
  cls.def("__init__", &detector_init, py::arg("ckpt_path"), py::arg("device"));
  // predict runs under the tensor library's no-gradient decorator, built once
  // here, so every call leaves the caller's gradient mode as it found it.
  const py::cpp_function predict =
      pyutil::signed_function("predict", &detector_predict, py::arg("self"), py::arg("audio_16k"),
                              "Args:\n    audio_16k: 16kHz 单通道 float32 音频\n"
                              "Returns:\n    multi_spks_rate ∈ [0, 1]");
  const py::object wrapped = m.attr("torch").attr("no_grad")()(predict);
  wrapped.attr("__qualname__") = "MultiSpeakerDetector.predict";
  wrapped.attr("__module__") = "triageflow";
  py::dict annotations;
  annotations["audio_16k"] = m.attr("np").attr("ndarray");
  annotations["return"] = py::module_::import("builtins").attr("float");
  wrapped.attr("__annotations__") = annotations;
  cls.type_object().attr("predict") = wrapped;
}

}  // namespace speech
