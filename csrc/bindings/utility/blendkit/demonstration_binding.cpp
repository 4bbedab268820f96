// The demonstration program of the training stream (python -m
// utility.blendkit): it indexes impulse responses and noise, iterates the
// dataset through a DataLoader as a training program would, prints one line
// per step and writes every mixture and source of each batch as 32-bit float
// wav files. Collaborators are the package's names, read when the program runs.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "bindings/utility/blendkit/registration.h"
#include "bindings/utility/blendkit/signal_arrays.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "common/errors.h"
#include "common/wav_io.h"
#include "mixsim/demo_command_line.h"
#include "mixsim/demo_output_names.h"
#include "pyutil/argparse_options.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech {
namespace {

py::object builtin(const char* name) { return py::module_::import("builtins").attr(name); }

py::object parse_command_line() {
  return build_parser(blendkit_attr("argparse"), mixsim::demo_command_line()).attr("parse_args")();
}

// An index without a "smallroom" type has no such rooms: the count is 0.
py::object smallroom_count(const py::object& rir_map) {
  const py::str type("smallroom");
  if (!py::bool_(rir_map.attr("__contains__")(type))) return py::int_(0);
  return py::int_(py::len(rir_map[type]));
}

void print_config(const py::object& args, const py::object& rir_map, const py::object& noise_files) {
  const py::object print = builtin("print");
  print("Config:");
  print("  speech_root:", args.attr("speeches"));
  print("  #rirs rooms:", smallroom_count(rir_map));
  print("  #noises:", py::int_(py::len(noise_files)), "files");
  print("  samples_per_epoch:", args.attr("samples_per_epoch"));
  print("  batch_size:", args.attr("batch_size"));
  print("  num_workers:", args.attr("num_workers"));
  print("  epochs:", args.attr("epochs"));
  print("  seed:", args.attr("seed"));
}

// An element as a number: through `item` when it has one.
py::object as_count(const py::object& value) {
  if (py::hasattr(value, "item")) return value.attr("item")();
  return py::int_(value);
}

py::object head(const py::object& samples, const py::object& length) {
  return samples[py::slice(py::none(), length, py::none())];
}

// The text an f-string gives the value.
std::string text_of(const py::object& value) { return builtin("format")(value, "").cast<std::string>(); }

py::object get_or(const py::object& batch, const char* key, const py::object& fallback) {
  return batch.attr("get")(key, fallback);
}

bool is_list_or_tuple(const py::handle& obj) { return PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr()); }

void write_float_wav(const std::string& path, const py::object& samples, int sample_rate) {
  const auto arr = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(samples);
  if (!arr) throw py::error_already_set();
  if (arr.ndim() > 2) throw ValueError("audio data must be 1-D or 2-D, got " + std::to_string(arr.ndim()) + " dimensions");
  const int64_t frames = arr.ndim() == 0 ? 1 : arr.shape(0);
  const int channels = arr.ndim() == 2 ? static_cast<int>(arr.shape(1)) : 1;
  write_wav(path, arr.data(), frames, channels, sample_rate, WavSubtype::kFloat);
}

struct Batch {
  py::object mixture;
  py::object mixture_len;
  py::object source_ids;
  py::object sources;
  py::object sources_len;
  int64_t size = 0;
  int sample_rate = 0;
};

struct RunState {
  py::object out_dir;
  int64_t epoch = 0;
  int64_t step = 0;
};

std::string output_path(const RunState& run, const std::string& name) {
  return blendkit_attr("os").attr("path").attr("join")(run.out_dir, name).cast<std::string>();
}

void save_sample(const RunState& run, const Batch& batch, int64_t j) {
  const py::object np = blendkit_attr("np");
  const py::object mix_len = as_count(batch.mixture_len[py::int_(j)]);
  const py::object mix = batch.mixture[py::int_(j)].attr("squeeze")().attr("detach")().attr("cpu")().attr("numpy")();
  const py::object mix_head = head(mix, mix_len).attr("astype")(np.attr("float32"));

  std::string base = mixsim::sample_base_name(run.epoch, run.step, j);
  const bool tagged = is_list_or_tuple(batch.source_ids) && static_cast<int64_t>(py::len(batch.source_ids)) > j &&
                      !batch.source_ids[py::int_(j)].is_none();
  const py::object sids = tagged ? py::object(batch.source_ids[py::int_(j)]) : py::none();
  if (tagged) {
    std::vector<std::string> ids;
    std::string unused;
    if (signal_arrays::run_guarded([&] { for (const py::handle id : sids) ids.push_back(py_str(id)); }, unused)) {
      base = mixsim::with_id_tag(base, ids);
    }
  }
  std::vector<std::string> saved{output_path(run, mixsim::mixture_file_name(base))};
  write_float_wav(saved[0], mix_head, batch.sample_rate);
  if (batch.sources.is_none() || batch.sources_len.is_none()) {
    py_print(mixsim::saved_line(saved));
    return;
  }
  const py::tuple shape = py::tuple(batch.sources.attr("shape"));
  if (shape.size() != 3) {
    throw ValueError("not enough values to unpack (expected 3, got " + std::to_string(shape.size()) + ")");
  }
  const int64_t slots = shape[1].cast<int64_t>();
  for (int64_t k = 0; k < slots; ++k) {
    const py::tuple index = py::make_tuple(j, k);
    const py::object src_len = as_count(batch.sources_len[index]);
    if (!signal_arrays::less_than(py::int_(0), src_len)) continue;
    const py::object src =
        head(batch.sources[index], src_len).attr("detach")().attr("cpu")().attr("numpy")().attr("astype")(np.attr("float32"));
    std::optional<std::string> slot_id;
    if (tagged && is_list_or_tuple(sids) && static_cast<int64_t>(py::len(sids)) > k) {
      slot_id = text_of(sids[py::int_(k)]);
    }
    saved.push_back(output_path(run, mixsim::source_file_name(base, k, slot_id)));
    write_float_wav(saved.back(), src, batch.sample_rate);
  }
  py_print(mixsim::saved_line(saved));
}

Batch read_batch(const py::object& item) {
  Batch batch;
  batch.mixture = item[py::str("mixture")];
  batch.size = py::int_(batch.mixture.attr("size")(0)).cast<int64_t>();
  batch.mixture_len = item[py::str("mixture_len")];
  return batch;
}

void run_step(const RunState& run, const py::object& item) {
  Batch batch = read_batch(item);
  const py::object num_spk = get_or(item, "num_spk", py::list());
  batch.source_ids = get_or(item, "source_ids", py::list());
  batch.sample_rate = py::int_(item[py::str("sr")]).cast<int>();
  batch.sources = get_or(item, "sources", py::none());
  batch.sources_len = get_or(item, "sources_len", py::none());
  py_print(mixsim::step_line(run.epoch, run.step, std::to_string(batch.size),
                             text_of(batch.mixture_len.attr("tolist")()), text_of(num_spk), text_of(batch.source_ids)));
  std::string error_text;
  const bool saved = signal_arrays::run_guarded(
      [&] {
        for (int64_t j = 0; j < batch.size; ++j) save_sample(run, batch, j);
      },
      error_text);
  if (!saved) py_print(mixsim::save_failure_line(run.epoch, run.step, error_text));
}

void run_epoch(RunState& run, const py::object& dataset, const py::object& loader, int64_t max_steps_option) {
  py_print(mixsim::epoch_heading(run.epoch));
  dataset.attr("set_epoch")(run.epoch);
  const std::optional<int64_t> max_steps =
      max_steps_option >= 0 ? std::optional<int64_t>(max_steps_option) : std::nullopt;
  int64_t steps = 0;
  run.step = 0;
  for (const py::handle item : loader) {
    ++steps;
    run_step(run, py::reinterpret_borrow<py::object>(item));
    if (max_steps && steps >= *max_steps) break;
    ++run.step;
  }
}

void run_demonstration() {
  const py::object args = parse_command_line();
  blendkit_attr("os").attr("makedirs")(args.attr("out_dir"), py::arg("exist_ok") = true);
  const py::object rirs = args.attr("rirs");
  const py::object rir_map = py::bool_(rirs) ? blendkit_attr("collect_rir_hierarchy")(rirs) : py::dict();
  const py::object noises = args.attr("noises");
  const py::object noise_files = py::bool_(noises) ? blendkit_attr("collect_files")(noises) : py::list();
  print_config(args, rir_map, noise_files);

  const py::object dataset = blendkit_attr("IterableSeparationDataset")(
      py::arg("speech_root") = args.attr("speeches"), py::arg("rir_map") = rir_map,
      py::arg("noise_files") = noise_files, py::arg("samples_per_epoch") = args.attr("samples_per_epoch"),
      py::arg("seed") = args.attr("seed"));
  dataset.attr("batch_size") = args.attr("batch_size");
  const py::object loader = blendkit_attr("DataLoader")(dataset, py::arg("batch_size") = py::none(),
                                                        py::arg("num_workers") = args.attr("num_workers"),
                                                        py::arg("drop_last") = false);
  RunState run;
  run.out_dir = args.attr("out_dir");
  const int64_t epochs = args.attr("epochs").cast<int64_t>();
  const int64_t max_steps = args.attr("max_steps_per_epoch").cast<int64_t>();
  for (run.epoch = 0; run.epoch < epochs; ++run.epoch) run_epoch(run, dataset, loader, max_steps);
  py_print("Done.");
}

}  // namespace

void bind_demonstration(py::module_& m) {
  m.def("_run_demonstration", &run_demonstration,
        "Runs the training-stream demonstration with the process's command line.");
}

}  // namespace speech
