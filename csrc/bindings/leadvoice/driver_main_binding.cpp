// main: the command-line run over a folder of wav files or a JSON-lines task
// list, with one separation network and one speaker tracker for every
// recording.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "bindings/driver_steps/device.h"
#include "bindings/driver_steps/models.h"
#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "driver/input_mode.h"
#include "driver/run_outputs.h"
#include "driver/run_messages.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

py::list jsonl_tasks(const py::object& args) {
  pyutil::py_print(driver::jsonl_mode_line(pyutil::fs_encode(args.attr("data_jsonl"))));
  return leadvoice_attr("collect_tasks_from_jsonl")(
      args.attr("data_jsonl"), py::arg("multi_spks_rate_threshold") = args.attr("multi_spks_rate_threshold"));
}

py::list folder_tasks(const py::object& data_path) {
  const driver::FolderRecordings recordings = driver::folder_recordings(pyutil::fs_encode(data_path));
  pyutil::py_print(recordings.line);
  py::list tasks;
  for (const std::string& wav_path : recordings.wav_paths) {
    py::dict task;
    task["wav_path"] = pyutil::fs_decode(wav_path);
    task["raw"] = py::dict();
    task["line_no"] = py::int_(-1);
    tasks.append(task);
  }
  return tasks;
}

// A run whose outputs would overwrite its inputs or each other is refused
// before the models load, before any log empties a file and before any
// folder is made.
void check_outputs(const py::object& args, driver::InputMode mode, const py::list& tasks) {
  const std::optional<std::string> log_file = shared_log_of(args);
  driver::RunFiles files;
  files.inference = pyutil::fs_encode(args.attr("inference"));
  files.save_dir = pyutil::fs_encode(args.attr("save_dir"));
  files.tasks.reserve(tasks.size());
  for (const py::handle task : tasks) {
    files.tasks.push_back({pyutil::fs_encode(task["wav_path"]), task_line_no(task)});
  }
  if (mode == driver::InputMode::kTaskList) {
    files.data_jsonl = pyutil::fs_encode(args.attr("data_jsonl"));
    files.recordings = task_list_recordings(args.attr("data_jsonl"));
  } else {
    files.recordings = files.tasks;
  }
  driver::refuse_folders_over_recordings(files, log_file.has_value());
  if (log_file) driver::refuse_log_over_inputs(*log_file, files);
}

void load_models(DriverRun& run) {
  const py::object& args = run.args;
  run.models.device = choose_device(kLeadvoicePackage, args.attr("device"), driver::cuda_unavailable_line());
  pyutil::py_print(driver::loading_model_line());
  run.models.network =
      load_separation_network(kLeadvoicePackage, args.attr("inference"), run.models.device, EvalTarget::kBuiltNetwork);
  pyutil::py_print(driver::loading_tracker_line());
  run.models.tracker = tracker_from_options(kLeadvoicePackage, args);
}

void run_main() {
  DriverRun run;
  run.args = leadvoice_attr("parse_args")();
  const py::object& args = run.args;
  const bool has_path = !args.attr("data_path").is_none();
  const bool has_jsonl = !args.attr("data_jsonl").is_none();
  const driver::InputMode mode = driver::input_mode(has_path, has_jsonl);
  const py::list tasks =
      mode == driver::InputMode::kTaskList ? jsonl_tasks(args) : folder_tasks(args.attr("data_path"));
  if (tasks.empty()) {
    if (mode == driver::InputMode::kTaskList) {
      pyutil::py_print(driver::empty_task_list_message(pyutil::py_str(args.attr("multi_spks_rate_threshold"))));
    }
    return;
  }
  check_outputs(args, mode, tasks);
  load_models(run);
  for (const py::handle task : tasks) run.tally.add(run_recording(run, task));
  pyutil::py_print(driver::run_summary_line(run.tally));
}

}  // namespace

void define_main(py::module_& m) { pyutil::def_function(m, "main", &run_main); }

}  // namespace speech
