// Main-channel selection: the lazily loaded voice-activity model, the speech
// energy of one stream, and the choice of the main speaker's stream.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "common/errors.h"
#include "driver/main_channel.h"
#include "driver/speech_energy.h"
#include "pyutil/numpy_view.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

py::object get_silero_vad_model() {
  const py::object module = leadvoice_module();
  if (module.attr("_SILERO_VAD_MODEL").is_none()) {
    pyutil::py_print(driver::vad_load_message());
    module.attr("_SILERO_VAD_MODEL") = module.attr("load_silero_vad")();
  }
  return module.attr("_SILERO_VAD_MODEL");
}

std::vector<driver::SpeechSpan> spans_of(const py::object& timestamps) {
  const py::object to_int = py::module_::import("builtins").attr("int");
  std::vector<driver::SpeechSpan> spans;
  for (const py::handle span : timestamps) {
    spans.push_back({to_int(span["start"]).cast<int64_t>(), to_int(span["end"]).cast<int64_t>()});
  }
  return spans;
}

template <typename T>
driver::SpeechEnergy energy_of(const py::array& audio, const std::vector<driver::SpeechSpan>& spans,
                               double sample_rate) {
  const auto samples = py::array_t<T, py::array::c_style>::ensure(audio);
  return driver::speech_mean_energy(common::contiguous_samples(samples.data(), samples.size()), spans, sample_rate);
}

py::tuple compute_speech_mean_energy(py::object audio, py::object sample_rate) {
  const py::tuple silent = py::make_tuple(0.0, 0.0);
  if (audio.is_none() || py::len(audio) == 0) return silent;
  if (!py::isinstance<py::array>(audio)) {
    throw common::TypeError("audio must be a NumPy array, got " + pyutil::py_str(py::type::of(audio)));
  }
  const auto array = py::reinterpret_borrow<py::array>(audio);
  const pyutil::FloatKind kind = pyutil::float_kind_of(array, "audio");

  const py::object model = leadvoice_attr("get_silero_vad_model")();
  const py::object tensor = leadvoice_attr("torch").attr("from_numpy")(
      array.attr("astype")(leadvoice_attr("np").attr("float32")));
  const py::object timestamps = leadvoice_attr("get_speech_timestamps")(
      tensor, model, py::arg("sampling_rate") = sample_rate, py::arg("return_seconds") = false);
  if (!py::bool_(timestamps)) return silent;

  const std::vector<driver::SpeechSpan> spans = spans_of(timestamps);
  const double rate = sample_rate.cast<double>();
  const driver::SpeechEnergy energy = kind == pyutil::FloatKind::kFloat32 ? energy_of<float>(array, spans, rate)
                                                                          : energy_of<double>(array, spans, rate);
  return py::make_tuple(energy.mean_energy, energy.duration_sec);
}

py::object select_main_channel(py::object global_streams, py::object sample_rate, double energy_close_ratio) {
  if (!py::bool_(global_streams)) return py::none();
  driver::check_energy_close_ratio(energy_close_ratio);
  pyutil::py_print(driver::main_channel_header());

  std::vector<py::object> ids;
  std::vector<driver::StreamStats> stats;
  for (const py::handle item : global_streams.attr("items")()) {
    const py::object gid = py::reinterpret_borrow<py::object>(item[py::int_(0)]);
    const py::tuple measured = leadvoice_attr("compute_speech_mean_energy")(item[py::int_(1)], sample_rate);
    stats.push_back({pyutil::py_str(gid), measured[0].cast<double>(), measured[1].cast<double>()});
    ids.push_back(gid);
    pyutil::py_print(driver::stream_stats_line(stats.back()));
  }

  const driver::ChannelDecision decision = driver::decide_main_channel(stats, energy_close_ratio);
  if (!decision.has_speech) {
    pyutil::py_print(driver::no_speech_warning());
    return py::none();
  }
  pyutil::py_print(driver::threshold_line(stats, decision, energy_close_ratio));
  pyutil::py_print(driver::decision_line(stats, decision));
  return ids[decision.best];
}

}  // namespace

void define_main_channel(py::module_& m) {
  pyutil::def_function(m, "get_silero_vad_model", &get_silero_vad_model);
  pyutil::def_function(m, "compute_speech_mean_energy", &compute_speech_mean_energy, py::arg("audio"),
                       py::arg("sample_rate") = 16000);
  pyutil::def_function(m, "select_main_channel", &select_main_channel, py::arg("global_streams"),
                       py::arg("sample_rate") = 16000, py::arg("energy_close_ratio") = 0.9);
}

}  // namespace speech
