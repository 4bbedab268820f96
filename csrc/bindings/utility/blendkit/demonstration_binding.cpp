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
#include "bindings/utility/blendkit/signal_calls.h"
#include "common/errors.h"
#include "common/wav_io.h"
#include "mixsim/demo_command_line.h"
#include "mixsim/demo_run.h"
#include "mixsim/stream_plan.h"
#include "pyutil/argparse_options.h"
#include "pyutil/fs_path.h"
#include "pyutil/int_value.h"
#include "pyutil/ordinary_errors.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

py::object builtin(const char* name) { return py::module_::import("builtins").attr(name); }

py::object parse_command_line() {
  return pyutil::build_parser(blendkit_attr("argparse"), mixsim::demo_command_line(), "utility.blendkit").attr("parse_args")();
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
std::string text_of(const py::object& value) { return pyutil::py_str(builtin("format")(value, "")); }

py::object get_or(const py::object& batch, const char* key, const py::object& fallback) {
  return batch.attr("get")(key, fallback);
}

bool is_list_or_tuple(const py::handle& obj) { return PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr()); }

void write_float_wav(const std::string& path, const py::object& samples, int sample_rate) {
  const auto arr = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(samples);
  if (!arr) throw py::error_already_set();
  if (arr.ndim() > 2) throw common::ValueError("audio data must be 1-D or 2-D, got " + std::to_string(arr.ndim()) + " dimensions");
  const int64_t frames = arr.ndim() == 0 ? 1 : arr.shape(0);
  const int channels = arr.ndim() == 2 ? static_cast<int>(arr.shape(1)) : 1;
  common::write_wav(path, arr.data(), frames, channels, sample_rate, common::WavSubtype::kFloat);
}

// One loader item, read as the program reads it.
struct Batch {
  py::object mixture;
  py::object mixture_len;
  py::object source_ids;
  py::object sources;
  py::object sources_len;
  int sample_rate = 0;
};

Batch read_loader_item(const py::object& item, mixsim::StepValues& values) {
  Batch batch;
  batch.mixture = item[py::str("mixture")];
  values.batch_size = py::int_(batch.mixture.attr("size")(0)).cast<int64_t>();
  batch.mixture_len = item[py::str("mixture_len")];
  const py::object num_spk = get_or(item, "num_spk", py::list());
  batch.source_ids = get_or(item, "source_ids", py::list());
  batch.sample_rate = py::int_(item[py::str("sr")]).cast<int>();
  batch.sources = get_or(item, "sources", py::none());
  batch.sources_len = get_or(item, "sources_len", py::none());
  values.mixture_lens = text_of(batch.mixture_len.attr("tolist")());
  values.num_spk = text_of(num_spk);
  values.source_ids = text_of(batch.source_ids);
  return batch;
}

py::object as_float32_numpy(const py::object& tensor) {
  return tensor.attr("detach")().attr("cpu")().attr("numpy")().attr("astype")(blendkit_attr("np").attr("float32"));
}

class BatchFiles final : public mixsim::SampleFiles {
 public:
  BatchFiles(const Batch& batch, const py::object& out_dir) : batch_(batch), out_dir_(out_dir) {}

  // A None entry has no ids; one that str() refuses drops the tag quietly.
  std::optional<std::vector<std::string>> id_texts(int64_t j) override {
    const py::object sids = sample_ids(j);
    if (sids.is_none()) return std::nullopt;
    std::vector<std::string> ids;
    const std::optional<pyutil::OrdinaryError> refused = pyutil::run_guarded([&] {
      for (const py::handle id : sids) ids.push_back(pyutil::py_str(id));
    });
    if (refused) return std::nullopt;
    return ids;
  }

  std::optional<std::string> slot_id(int64_t j, int64_t k) override {
    const py::object sids = sample_ids(j);
    if (sids.is_none() || !is_list_or_tuple(sids) || static_cast<int64_t>(py::len(sids)) <= k) return std::nullopt;
    return text_of(sids[py::int_(k)]);
  }

  std::string write_mixture(int64_t j, const std::string& name) override {
    const py::object length = as_count(batch_.mixture_len[py::int_(j)]);
    const py::object mix = batch_.mixture[py::int_(j)].attr("squeeze")().attr("detach")().attr("cpu")().attr("numpy")();
    return written(name, head(mix, length).attr("astype")(blendkit_attr("np").attr("float32")));
  }

  bool has_sources() override { return !batch_.sources.is_none() && !batch_.sources_len.is_none(); }

  int64_t slots() override {
    const py::tuple shape = py::tuple(batch_.sources.attr("shape"));
    if (shape.size() != 3) {
      throw common::ValueError("not enough values to unpack (expected 3, got " + std::to_string(shape.size()) + ")");
    }
    return shape[1].cast<int64_t>();
  }

  int64_t source_length(int64_t j, int64_t k) override {
    return py::cast<int64_t>(as_count(batch_.sources_len[py::make_tuple(j, k)]));
  }

  std::string write_source(int64_t j, int64_t k, int64_t length, const std::string& name) override {
    return written(name, as_float32_numpy(head(batch_.sources[py::make_tuple(j, k)], py::int_(length))));
  }

  void print(const std::string& line) override { pyutil::py_print(line); }

 private:
  // Element j of "source_ids" when that is a list or tuple long enough.
  py::object sample_ids(int64_t j) const {
    const py::object& ids = batch_.source_ids;
    if (!is_list_or_tuple(ids) || static_cast<int64_t>(py::len(ids)) <= j) return py::none();
    return ids[py::int_(j)];
  }

  std::string written(const std::string& name, const py::object& samples) const {
    const py::object path = blendkit_attr("os").attr("path").attr("join")(out_dir_, pyutil::utf8_text(name));
    write_float_wav(pyutil::fs_encode(path), samples, batch_.sample_rate);
    return pyutil::py_str(path);
  }

  const Batch& batch_;
  const py::object& out_dir_;
};

class DemoRun final : public mixsim::DemoSteps {
 public:
  DemoRun(py::object dataset, py::object loader, py::object out_dir)
      : dataset_(std::move(dataset)), loader_(std::move(loader)), out_dir_(std::move(out_dir)) {}

  void print(const std::string& line) override { pyutil::py_print(line); }
  void set_epoch(int64_t epoch) override { dataset_.attr("set_epoch")(epoch); }
  void start_epoch() override { batches_ = py::iter(loader_); }

  bool next_batch() override {
    PyObject* item = PyIter_Next(batches_.ptr());
    if (item == nullptr) {
      if (PyErr_Occurred()) throw py::error_already_set();
      return false;
    }
    item_ = py::reinterpret_steal<py::object>(item);
    return true;
  }

  void finish_epoch() override {
    item_ = py::object();
    batches_ = py::object();
  }

  mixsim::StepValues read_batch() override {
    mixsim::StepValues values;
    batch_ = read_loader_item(item_, values);
    return values;
  }

  std::optional<std::string> save_batch(int64_t epoch, int64_t step, int64_t batch_size) override {
    BatchFiles files(batch_, out_dir_);
    const std::optional<pyutil::OrdinaryError> failure =
        pyutil::run_guarded([&] { mixsim::save_samples(files, epoch, step, batch_size); });
    if (!failure) return std::nullopt;
    return failure->text;
  }

 private:
  py::object dataset_;
  py::object loader_;
  py::object out_dir_;
  py::object batches_;
  py::object item_;
  Batch batch_;
};

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
  DemoRun run(dataset, loader, args.attr("out_dir"));
  // The dataset is rank 0 of 1, as built above.
  const std::optional<int64_t> epoch_batches = mixsim::batches_for_process(
      pyutil::optional_int(args.attr("samples_per_epoch")), pyutil::optional_int(args.attr("batch_size")), 0, 1,
      args.attr("num_workers").cast<int64_t>());
  mixsim::run_epochs(run, args.attr("epochs").cast<int64_t>(), args.attr("max_steps_per_epoch").cast<int64_t>(),
                     epoch_batches);
}

}  // namespace

void bind_demonstration(py::module_& m) {
  pyutil::def_function(m, "_run_demonstration", &run_demonstration,
                       "Runs the training-stream demonstration with the process's command line.");
}

}  // namespace speech
