// One recording of a driver run, on the interpreter's side: the refusal of a
// folder that an earlier task wrote into, reading at the rate the tracker
// and the voice-activity model expect (the core refuses a recording that
// cannot be read or is not finite everywhere, the resampler one it cannot
// take: one warning line, and nothing is created for it), its output folder
// and log, separation, the main-channel choice, the wav files and the
// per-window report. A folder that cannot be made, a log that cannot be
// opened or a file that cannot be written (a full disk, a file in a folder's
// place, a read-only file system) ends that recording with one warning line,
// and the run goes on. Paths are handled as file-system bytes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/driver_steps/models.h"
#include "bindings/driver_steps/mono_wav.h"
#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "common/os_path.h"
#include "driver/folder_outputs.h"
#include "driver/paths.h"
#include "driver/recording_input.h"
#include "driver/recording_logs.h"
#include "driver/run_messages.h"
#include "driver/stream_files.h"
#include "pyutil/fs_path.h"
#include "pyutil/ordinary_errors.h"
#include "pyutil/py_print.h"
#include "pyutil/raise_error.h"
#include "pyutil/scope_guards.h"
#include "pyutil/unpack_pair.h"

namespace py = pybind11;

namespace speech {
namespace {

struct Recording {
  std::string wav_path;  // file-system bytes, as are the folder and log
  int64_t line_no = -1;
  std::string save_dir;
  driver::LogTarget log;
  py::object mix;  // the first channel, 64-bit floats at kModelRate
  int64_t file_rate = 0;
};

py::object open_logger(const driver::LogTarget& log) {
  const py::object logger_type = leadvoice_attr("Logger");
  if (!log.append) return logger_type(pyutil::fs_decode(log.path));
  py::object logger = logger_type();
  logger.attr("log_file") = py::module_::import("builtins")
                                .attr("open")(pyutil::fs_decode(log.path), "a", py::arg("encoding") = "utf-8",
                                              py::arg("errors") = "surrogateescape");
  return logger;
}

py::array_t<double> as_array(const std::vector<double>& samples) {
  return py::array_t<double>(static_cast<py::ssize_t>(samples.size()), samples.data());
}

// Fills the recording's samples at the model rate, or tells why the task is
// refused after its warning line.
std::optional<driver::TaskOutcome> load_recording(Recording& rec) {
  const driver::RecordingRead read = driver::read_first_channel(rec.wav_path);
  if (read.refused) {
    pyutil::py_print(read.warning);
    return read.refused;
  }
  rec.file_rate = read.sample_rate;
  const py::array_t<double> mix = as_array(read.first_channel);
  if (rec.file_rate == driver::kModelRate) {
    rec.mix = mix;
    return std::nullopt;
  }
  try {
    rec.mix = leadvoice_attr("librosa").attr("resample")(mix, py::arg("orig_sr") = rec.file_rate,
                                                         py::arg("target_sr") = driver::kModelRate,
                                                         py::arg("res_type") = "kaiser_best");
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ValueError)) throw;
    pyutil::py_print(driver::resampling_refused_warning(rec.wav_path, rec.file_rate, pyutil::py_str(e.value())));
    return driver::TaskOutcome::kUnreadable;
  }
  return std::nullopt;
}

using OutputWarning = std::string (*)(const std::string& wav_path, const std::string& error);

// Runs one step that makes the recording's outputs. An OSError of it is the
// recording's failure: its warning line, and false. Every other error goes
// on, as before.
template <typename Step>
bool output_made(const Recording& rec, OutputWarning warning, Step&& step) {
  const std::optional<pyutil::OrdinaryError> failure = pyutil::run_guarded(PyExc_OSError, std::forward<Step>(step));
  if (failure) pyutil::py_print(warning(rec.wav_path, failure->text));
  return !failure;
}

void write_signal(const std::string& path, const py::object& signal) {
  write_mono_wav(kLeadvoicePackage, path, signal, py::int_(driver::kModelRate), "signal");
}

void print_report(const py::object& segment_info, int64_t sample_rate) {
  pyutil::py_print(driver::report_header());
  for (const py::handle seg : segment_info) {
    const auto seg_idx = seg["seg_idx"].cast<int64_t>();
    const auto start_sample = seg["start_sample"].cast<int64_t>();
    const auto end_sample = seg["end_sample"].cast<int64_t>();
    std::vector<int64_t> ids;
    for (const py::handle gid : seg["global_ids"]) ids.push_back(gid.cast<int64_t>());
    pyutil::py_print(driver::segment_report_line(seg_idx, start_sample, end_sample, sample_rate, ids));
  }
}

// Streams that an earlier run left in the folder go before this one writes,
// so the folder holds only the streams of the recording just handled.
bool clear_stale_streams(const Recording& rec) {
  std::vector<std::string> removed;
  if (!output_made(rec, driver::output_failed_warning,
                   [&] { removed = driver::remove_stream_files(rec.save_dir); })) {
    return false;
  }
  if (!removed.empty()) pyutil::py_print(driver::stale_streams_removed_line(rec.save_dir, removed.size()));
  return true;
}

bool signal_written(const Recording& rec, const std::string& path, const py::object& signal) {
  return output_made(rec, driver::output_failed_warning, [&] { write_signal(path, signal); });
}

driver::TaskOutcome process_recording(const DriverRun& run, const Recording& rec) {
  pyutil::py_print(driver::log_will_be_saved_line(rec.log.path));
  if (!clear_stale_streams(rec)) return driver::TaskOutcome::kOutputFailed;
  if (rec.file_rate != driver::kModelRate) {
    pyutil::py_print(driver::resampled_warning(rec.wav_path, rec.file_rate, driver::kModelRate));
  }
  const py::object& mix = rec.mix;
  const int64_t sr = driver::kModelRate;
  pyutil::py_print(driver::loaded_mix_line(rec.wav_path, sr, static_cast<int64_t>(py::len(mix))));
  const py::object processor = processor_from_options(kLeadvoicePackage, run.args, run.models, py::int_(sr));
  pyutil::py_print(driver::processing_start_line());
  const auto [global_streams, segment_info] = pyutil::unpack_pair(processor.attr("process")(mix));
  pyutil::py_print(driver::speaker_count_line(py::len(global_streams)));
  const py::object main_gid = leadvoice_attr("select_main_channel")(global_streams, py::arg("sample_rate") = sr);

  const std::string mix_save_path = common::path_join(rec.save_dir, driver::kFolderMixName);
  if (!signal_written(rec, mix_save_path, mix)) return driver::TaskOutcome::kOutputFailed;
  pyutil::py_print(driver::saved_mix_line(mix_save_path));
  if (main_gid.is_none()) {
    pyutil::py_print(driver::no_main_channel_warning());
  } else {
    const std::string main_save_path =
        common::path_join(rec.save_dir, driver::main_speaker_file_name(pyutil::py_str(main_gid)));
    if (!signal_written(rec, main_save_path, global_streams[main_gid])) return driver::TaskOutcome::kOutputFailed;
    pyutil::py_print(driver::saved_main_line(main_save_path));
  }
  print_report(segment_info, sr);
  pyutil::py_print(driver::finished_line(rec.save_dir));
  return main_gid.is_none() ? driver::TaskOutcome::kNoMainChannel : driver::TaskOutcome::kDone;
}

// The recording handled with standard output teed into its log. On every
// way out, the first log write's failure included: the stream the Logger
// replaced becomes standard output again, the log is closed, and the line
// naming the log reaches the console, so nothing is ever printed into a
// closed log.
driver::TaskOutcome process_logged(const DriverRun& run, const Recording& rec, const py::object& logger) {
  const pyutil::ScopeExit saved_line([&rec] { pyutil::py_print(driver::log_saved_line(rec.log.path)); });
  const pyutil::ClosingFile closing(logger);
  const pyutil::StdoutRedirect redirect(leadvoice_attr("sys"), logger, logger.attr("terminal"));
  return process_recording(run, rec);
}

// A log that the disk no longer takes gives its file up and raises the
// file's OSError once, wherever the recording was printing (see the Logger):
// that is the recording's output failure, its warning on the console, and
// the run goes on. An OSError while the log still has its file goes on, as
// every other error does.
driver::TaskOutcome logged_outcome(const DriverRun& run, const Recording& rec, const py::object& logger) {
  driver::TaskOutcome outcome = driver::TaskOutcome::kOutputFailed;
  const std::optional<pyutil::OrdinaryError> failure =
      pyutil::run_guarded(PyExc_OSError, [&] { outcome = process_logged(run, rec, logger); });
  if (!failure) return outcome;
  if (!logger.attr("log_file").is_none()) pyutil::raise_instance(failure->value);
  pyutil::py_print(driver::output_failed_warning(rec.wav_path, failure->text));
  return driver::TaskOutcome::kOutputFailed;
}

}  // namespace

int64_t task_line_no(const py::handle& task) {
  const py::object line_no = task.attr("get")("line_no", -1);
  return py::isinstance<py::int_>(line_no) ? line_no.cast<int64_t>() : -1;
}

std::optional<std::string> shared_log_of(const py::object& args) {
  const py::object log_file = args.attr("log_file");
  if (log_file.is_none() || !py::bool_(log_file)) return std::nullopt;
  return pyutil::fs_encode(log_file);
}

driver::TaskOutcome run_recording(DriverRun& run, const py::handle& task) {
  Recording rec;
  rec.wav_path = pyutil::fs_encode(task["wav_path"]);
  rec.line_no = task_line_no(task);
  rec.save_dir = driver::recording_folder(pyutil::fs_encode(run.args.attr("save_dir")), rec.wav_path);
  // Two recordings with one stem share a folder: the later one is refused
  // rather than overwrite the results of the earlier one.
  if (const FolderOwner* owner = run.folders.owner_of(rec.save_dir)) {
    pyutil::py_print(driver::folder_taken_warning(rec.wav_path, rec.save_dir, owner->wav_path, owner->line_no));
    return driver::TaskOutcome::kFolderTaken;
  }
  if (const std::optional<driver::TaskOutcome> refused = load_recording(rec)) return *refused;

  if (!output_made(rec, driver::folder_failed_warning,
                   [&rec] { leadvoice_attr("ensure_dir")(pyutil::fs_decode(rec.save_dir)); })) {
    return driver::TaskOutcome::kOutputFailed;
  }
  rec.log = run.logs.next(shared_log_of(run.args), rec.save_dir);
  py::object logger;
  if (!output_made(rec, driver::log_failed_warning, [&] { logger = open_logger(rec.log); })) {
    return driver::TaskOutcome::kOutputFailed;
  }
  run.logs.opened(rec.log);
  // Claimed only now: a recording that wrote nothing leaves its folder free.
  run.folders.claim(rec.save_dir, FolderOwner{rec.wav_path, rec.line_no});
  return logged_outcome(run, rec, logger);
}

}  // namespace speech
