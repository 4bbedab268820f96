#include "bindings/driver_steps/models.h"

#include "pyutil/package_namespace.h"

namespace py = pybind11;

namespace speech {

py::object load_separation_network(const char* package, const py::object& checkpoint, const py::object& device,
                                   EvalTarget eval_target) {
  py::object network = pyutil::package_attr(package, "unmixer_core").attr("TFLocoformerSEP")();
  pyutil::package_attr(package, "load_checkpoint_for_inference")(checkpoint, network, device);
  const py::object moved = network.attr("to")(device);
  (eval_target == EvalTarget::kMovedNetwork ? moved : network).attr("eval")();
  return network;
}

py::object tracker_from_options(const char* package, const py::object& args) {
  return pyutil::package_attr(package, "SpeakerTracker")(
      py::arg("wespeaker_model") = args.attr("wespeaker_model"),
      py::arg("similarity_threshold") = args.attr("similarity_threshold"),
      py::arg("low_similarity_threshold") = args.attr("low_similarity_threshold"),
      py::arg("max_inter_sisdr_for_update") = args.attr("max_inter_sisdr_for_update"),
      py::arg("short_speech_duration") = args.attr("short_speech_duration"),
      py::arg("short_speech_threshold_drop") = args.attr("short_speech_threshold_drop"),
      py::arg("embedding_update_strategy") = "ema_with_history");
}

py::object processor_from_options(const char* package, const py::object& args, const SeparationModels& models,
                                  const py::object& sample_rate) {
  return pyutil::package_attr(package, "CSSProcessor")(
      py::arg("separation_model") = models.network, py::arg("speaker_tracker") = models.tracker,
      py::arg("max_speakers") = args.attr("max_speakers"), py::arg("seg_duration") = args.attr("seg_duration"),
      py::arg("hop_duration") = args.attr("hop_duration"), py::arg("sample_rate") = sample_rate,
      py::arg("sisdr_threshold") = args.attr("sisdr_threshold"),
      py::arg("sisdr_threshold_prev") = args.attr("sisdr_threshold_prev"),
      py::arg("merge_threshold") = args.attr("merge_threshold"), py::arg("device") = models.device,
      py::arg("segments_save_dir") = py::none());
}

}  // namespace speech
