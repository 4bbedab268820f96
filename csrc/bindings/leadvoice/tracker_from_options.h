#pragma once
// Both command-line drivers build their one speaker tracker from the same six
// tuning options of their parsed command line, with the history-keeping EMA
// update; `tracker_class` is whatever SpeakerTracker the caller's package
// holds at call time.
#include <pybind11/pybind11.h>

namespace speech {

inline pybind11::object tracker_from_options(const pybind11::object& tracker_class, const pybind11::object& args) {
  namespace py = pybind11;
  return tracker_class(py::arg("wespeaker_model") = args.attr("wespeaker_model"),
                       py::arg("similarity_threshold") = args.attr("similarity_threshold"),
                       py::arg("low_similarity_threshold") = args.attr("low_similarity_threshold"),
                       py::arg("max_inter_sisdr_for_update") = args.attr("max_inter_sisdr_for_update"),
                       py::arg("short_speech_duration") = args.attr("short_speech_duration"),
                       py::arg("short_speech_threshold_drop") = args.attr("short_speech_threshold_drop"),
                       py::arg("embedding_update_strategy") = "ema_with_history");
}

}  // namespace speech
