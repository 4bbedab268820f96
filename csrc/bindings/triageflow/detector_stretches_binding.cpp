// The detector network's forward, cut into stretches along time. The trunk's
// reach along time is finite, so its output frames can be made stretch by
// stretch from overlapping pieces of the spectrogram (features included, so
// the whole spectrogram is never held either); the temporal statistics that
// the pooling takes are gathered piece by piece, and the head runs once on
// them. The trunk's reach is read from its layers, not assumed.
#include <ATen/ATen.h>
#include <pybind11/pybind11.h>
#include <torch/csrc/utils/pybind.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bindings/triageflow/detector_parts.h"
#include "bindings/triageflow/package_lookup.h"
#include "pyutil/kept_original.h"
#include "pyutil/module_hooks.h"
#include "pyutil/ordinary_errors.h"
#include "pyutil/py_print.h"
#include "triage/frame_reach.h"
#include "triage/messages.h"
#include "triage/row_statistics.h"
#include "triage/stretch_plan.h"

namespace py = pybind11;

namespace speech {
namespace {

constexpr const char* kDetectorModule = "multi_speaker_detector.resnet.resnet";
// Conv2d settings are (frequency, time) pairs: the trunk's maps are
// (batch, channels, frequency, time).
constexpr size_t kTimeAxis = 1;
constexpr double kMagnitudeFloor = 1e-12;

// The classes as they were when the module was made, with the methods the
// stretches stand in for or call: the detector network, its trunk, the
// statistics pooling, its head, and the layers whose reach along time is
// known. A network or a layer of any other class (a subclass, a replacement
// bound later), or one whose forward was replaced, may compute something
// else, so only these are taken apart.
struct OwnClasses {
  pyutil::KeptClass detector;
  pyutil::KeptClass trunk;
  pyutil::KeptClass statistics_pool;
  pyutil::KeptClass conv;
  pyutil::KeptClass norm;
  pyutil::KeptClass sequential;
  pyutil::KeptClass basic_block;
  pyutil::KeptClass bottleneck;
  pyutil::KeptClass linear;
  pyutil::KeptClass identity;

  const pyutil::KeptClass* all[10] = {&detector, &trunk,      &statistics_pool, &conv,   &norm,
                                      &sequential, &basic_block, &bottleneck,     &linear, &identity};
};

OwnClasses& own_classes() {
  static OwnClasses kept;
  return kept;
}

// module.<name>, kept only when that module defines it under that name: a
// class rebound there before this module was made is not the package's own.
void keep_defined(pyutil::KeptClass& kept, const py::object& module, const char* name,
                  std::initializer_list<const char*> methods) {
  const py::object cls = module.attr(name);
  const bool defined_there = py::str(cls.attr("__module__")).equal(module.attr("__name__")) &&
                             py::str(cls.attr("__qualname__")).equal(py::str(name));
  if (defined_there) kept.keep(cls, methods);
}

std::optional<int64_t> time_setting(const py::handle& conv, const char* name) {
  const py::object pair = conv.attr(name);
  if (!py::isinstance<py::tuple>(pair) || py::len(pair) != 2) return std::nullopt;  // e.g. padding "same"
  return py::reinterpret_borrow<py::tuple>(pair)[kTimeAxis].cast<int64_t>();
}

std::optional<triage::FrameReach> conv_reach(const py::handle& conv) {
  const auto kernel = time_setting(conv, "kernel_size");
  const auto stride = time_setting(conv, "stride");
  const auto padding = time_setting(conv, "padding");
  const auto dilation = time_setting(conv, "dilation");
  if (!kernel || !stride || !padding || !dilation) return std::nullopt;
  return triage::FrameReach::of_conv(triage::ConvAxis{*kernel, *stride, *padding, *dilation});
}

std::optional<triage::FrameReach> reach_of(const py::handle& module);

// Children in registration order, which is the order the trunk's blocks and
// stages run them; `skip` names a child that is not on that path.
std::optional<triage::FrameReach> series_reach(const py::handle& module, const char* skip) {
  triage::FrameReach reach;
  for (const py::handle item : module.attr("named_children")()) {
    const py::tuple named = py::reinterpret_borrow<py::tuple>(item);
    if (skip != nullptr && named[0].cast<std::string>() == skip) continue;
    const std::optional<triage::FrameReach> child = reach_of(named[1]);
    if (!child) return std::nullopt;
    reach = reach.then(*child);
  }
  return reach;
}

// A residual block: its main path summed with its shortcut before the last
// relu, which acts per frame.
std::optional<triage::FrameReach> block_reach(const py::handle& block) {
  const std::optional<triage::FrameReach> main = series_reach(block, "shortcut");
  const std::optional<triage::FrameReach> shortcut = reach_of(block.attr("shortcut"));
  if (!main || !shortcut || main->stride() != shortcut->stride()) return std::nullopt;
  return main->beside(*shortcut);
}

std::optional<triage::FrameReach> reach_of(const py::handle& module) {
  const OwnClasses& own = own_classes();
  const py::handle kind = py::type::handle_of(module);
  if (own.conv.is(kind)) return conv_reach(module);
  if (own.norm.is(kind)) return triage::FrameReach();  // in evaluation mode, a per-frame affine map
  if (own.sequential.is(kind)) return series_reach(module, nullptr);
  if (own.basic_block.is(kind) || own.bottleneck.is(kind)) return block_reach(module);
  return std::nullopt;
}

// The layers that the trunk's frame-level features run through, in its order.
std::optional<triage::FrameReach> trunk_reach(const py::object& backbone) {
  triage::FrameReach reach;
  for (const char* name : {"conv1", "bn1", "layer1", "layer2", "layer3", "layer4"}) {
    const std::optional<triage::FrameReach> layer = reach_of(backbone.attr(name));
    if (!layer) return std::nullopt;
    reach = reach.then(*layer);
  }
  return reach;
}

// Whether one layer is called as built: of a noted class with its noted
// methods, in evaluation mode (batch normalisation then acts frame by frame),
// and with no hook of its own.
bool layer_as_built(const py::handle& layer) {
  if (py::bool_(layer.attr("training")) || pyutil::has_own_hooks(layer)) return false;
  for (const pyutil::KeptClass* kept : own_classes().all)
    if (kept->runs_as_kept(layer)) return true;
  return false;
}

// Whether the detector's own call gives what the stretches give: every layer
// as built, no hook registered for all modules, the package's own trunk
// pooling with the temporal statistics, and a one-layer head.
bool is_as_built(const py::object& model) {
  if (pyutil::has_global_module_hooks()) return false;
  for (const py::handle layer : model.attr("modules")())
    if (!layer_as_built(layer)) return false;
  const OwnClasses& own = own_classes();
  const py::object backbone = model.attr("model_backbone");
  return own.trunk.is(py::type::handle_of(backbone)) &&
         own.statistics_pool.is(py::type::handle_of(backbone.attr("pool"))) && !py::bool_(backbone.attr("two_emb_layer"));
}

// The spectrogram settings the network's own forward uses.
struct Spectrum {
  int64_t n_fft = 0;
  int64_t hop = 0;
  int64_t pad = 0;  // the transform's centring pad on each side
  at::Tensor window;

  // Frames of a centred transform of `samples` samples.
  int64_t frames(int64_t samples) const { return 1 + (samples + 2 * pad - n_fft) / hop; }
};

Spectrum spectrum_of(const py::object& model) {
  Spectrum spectrum;
  spectrum.n_fft = model.attr("n_fft").cast<int64_t>();
  spectrum.hop = model.attr("stride").cast<int64_t>();
  spectrum.pad = spectrum.n_fft / 2;
  return spectrum;
}

// The network's window, made as its forward makes it for float32 input.
at::Tensor window_of(const py::object& model, int64_t n_fft, const py::object& device) {
  const py::object torch = triage_attr("torch");
  const std::string name = py::str(model.attr("window")).cast<std::string>() + "_window";
  return torch.attr(name.c_str())(n_fft, py::arg("dtype") = torch.attr("float32"), py::arg("device") = device)
      .cast<at::Tensor>();
}

// The float32 samples behind one stretch's frames, on the device, with the
// mirrored edges a centred transform of the whole utterance would add where
// the stretch meets the utterance's ends: [1, samples].
at::Tensor stretch_samples(const py::object& audio, int64_t total, const triage::Stretch& stretch,
                           const Spectrum& spectrum, const at::Device& device) {
  const int64_t first = stretch.first_frame * spectrum.hop - spectrum.pad;
  const int64_t end = (stretch.end_frame - 1) * spectrum.hop + spectrum.n_fft - spectrum.pad;
  const int64_t read_first = std::max<int64_t>(first, 0);
  const int64_t read_end = std::min(end, total);
  // Only this stretch is converted, a copy, so the caller's array is never touched.
  const py::object piece = audio[py::slice(read_first, read_end, 1)].attr("astype")(triage_attr("np").attr("float32"));
  at::Tensor samples = triage_attr("torch").attr("from_numpy")(piece).cast<at::Tensor>().to(device).view({1, 1, -1});
  if (read_first > first || read_end < end)
    samples = at::reflection_pad1d(samples, {read_first - first, end - read_end});
  return samples.view({1, -1});
}

// The network's features for one stretch: log magnitudes less the top bin,
// [1, frames, bins].
at::Tensor stretch_features(const at::Tensor& samples, const Spectrum& spectrum) {
  const at::Tensor transform = at::stft(samples, spectrum.n_fft, spectrum.hop, spectrum.n_fft, spectrum.window,
                                   /*normalized=*/false, /*onesided=*/true, /*return_complex=*/true);
  const at::Tensor kept = transform.narrow(1, 0, transform.size(1) - 1).transpose(1, 2);
  return at::log(at::abs(kept) + kMagnitudeFloor);
}

// The kept output frames of one stretch, as the pooling sees its map:
// [channels x frequency rows, frames].
at::Tensor kept_frames(const at::Tensor& trunk_map, const triage::Stretch& stretch) {
  if (trunk_map.dim() != 4 || trunk_map.size(3) < stretch.keep_end)
    throw std::logic_error("the trunk gave a stretch fewer output frames than its reach promises");
  return trunk_map.narrow(3, stretch.keep_first, stretch.kept()).reshape({-1, stretch.kept()});
}

// The pooled vector from the gathered statistics, as the statistics pooling
// makes it from the whole map: the mean, then the root of the floored
// variance, in the map's precision.
at::Tensor pooled(const triage::RowStatistics& statistics, const py::object& pool) {
  const double floor = pool.attr("VAR_FLOOR").cast<double>();
  const at::Tensor mean = statistics.mean().to(at::kFloat);
  const at::Tensor spread = at::sqrt(statistics.sample_variance().to(at::kFloat) + floor);
  return at::cat({mean, spread}).unsqueeze(0);
}

// The stretched forward of the package's own network, or none where the
// whole forward is what runs.
std::optional<at::Tensor> own_network_stretches(const py::object& model, const py::object& audio_16k,
                                                const py::object& device) {
  Spectrum spectrum = spectrum_of(model);
  // The transform gives its own error.
  if (spectrum.n_fft < 1 || spectrum.hop < 1) return std::nullopt;
  const int64_t total = py::len(audio_16k);
  const int64_t stretch_frames = triage_attr("_DETECTOR_STRETCH_FRAMES").cast<int64_t>();
  if (spectrum.frames(total) <= stretch_frames || !is_as_built(model)) return std::nullopt;
  const py::object backbone = model.attr("model_backbone");
  const std::optional<triage::FrameReach> reach = trunk_reach(backbone);
  if (!reach) return std::nullopt;

  spectrum.window = window_of(model, spectrum.n_fft, device);
  const at::Device where = triage_attr("torch").attr("device")(device).cast<at::Device>();
  triage::RowStatistics statistics;
  for (const triage::Stretch& stretch : triage::plan_stretches(spectrum.frames(total), *reach, stretch_frames)) {
    const at::Tensor features = stretch_features(stretch_samples(audio_16k, total, stretch, spectrum, where), spectrum);
    const at::Tensor trunk_map = backbone.attr("_get_frame_level_feat")(features).cast<at::Tensor>();
    statistics.add(kept_frames(trunk_map, stretch));
  }
  return backbone.attr("seg_1")(pooled(statistics, backbone.attr("pool"))).cast<at::Tensor>();
}

// A fault on the stretches' way would otherwise show only as memory that
// grows with the input: said on the console, once per network, not for
// every utterance it meets.
void note_stretch_failure(const py::object& model, const std::string& error) {
  static PyObject* said_for = nullptr;  // a weak reference to the network, held for the process
  if (said_for != nullptr && PyWeakref_GetObject(said_for) == model.ptr()) return;
  pyutil::py_print(triage::stretch_failure_line(error));
  PyObject* noted = PyWeakref_NewRef(model.ptr(), nullptr);
  if (noted == nullptr) {
    PyErr_Clear();  // a network without weak references is simply said for again
    return;
  }
  Py_XDECREF(said_for);
  said_for = noted;
}

}  // namespace

void remember_own_detector_classes() {
  const py::module_ detector_module = py::module_::import(kDetectorModule);
  OwnClasses& own = own_classes();
  keep_defined(own.detector, detector_module, "NoisyDetectorV2", {"__call__", "forward"});
  keep_defined(own.trunk, detector_module, "ResNet", {"__call__", "forward", "_get_frame_level_feat"});
  keep_defined(own.basic_block, detector_module, "BasicBlock", {"__call__", "forward"});
  keep_defined(own.bottleneck, detector_module, "Bottleneck", {"__call__", "forward"});
  keep_defined(own.statistics_pool, detector_module.attr("pooling_layers"), "TSTP", {"__call__", "forward"});
  const py::object nn = py::module_::import("torch.nn");
  own.conv.keep(nn.attr("Conv2d"), {"__call__", "forward", "_conv_forward"});
  own.norm.keep(nn.attr("BatchNorm2d"), {"__call__", "forward"});
  own.sequential.keep(nn.attr("Sequential"), {"__call__", "forward"});
  own.linear.keep(nn.attr("Linear"), {"__call__", "forward"});
  own.identity.keep(nn.attr("Identity"), {"__call__", "forward"});
}

std::optional<at::Tensor> stretched_logits(const py::object& model, const py::object& audio_16k,
                                           const py::object& device) {
  // The cheap tests first, none of which reads the network's layers: most
  // utterances are short, and any network but the package's own, called as
  // built, gets the whole forward.
  if (!py::isinstance(audio_16k, triage_attr("np").attr("ndarray")) || audio_16k.attr("ndim").cast<int>() != 1)
    return std::nullopt;
  if (!own_classes().detector.runs_as_kept(model)) return std::nullopt;
  // The stretches are only a faster road to the whole forward's logits:
  // whatever they meet on the way (settings they cannot take, an error of a
  // layer) leaves the whole forward to run, and to fail where it fails.
  std::optional<at::Tensor> logits;
  const std::optional<pyutil::OrdinaryError> failure =
      pyutil::run_guarded([&] { logits = own_network_stretches(model, audio_16k, device); });
  if (failure) {
    note_stretch_failure(model, failure->text);
    return std::nullopt;
  }
  return logits;
}

}  // namespace speech
