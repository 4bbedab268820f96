// One recording of a driver run: the refusal of a folder that an earlier task
// wrote into, reading at the rate the tracker and the voice-activity model
// expect (a recording that cannot be read or resampled, or is not finite
// everywhere, is one warning line, and nothing is created for it), its output
// folder and log, separation, the main-channel choice, the wav files and the
// per-window report. Paths are handled as file-system bytes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "bindings/driver_steps/models.h"
#include "bindings/driver_steps/mono_wav.h"
#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "common/errors.h"
#include "common/finite_samples.h"
#include "common/wav_io.h"
#include "driver/output_folder.h"
#include "driver/paths.h"
#include "driver/recording_input.h"
#include "driver/run_messages.h"
#include "driver/stream_files.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/unpack_pair.h"

namespace py = pybind11;

namespace speech {
namespace {

constexpr int64_t kModelRate = 16000;

struct Recording {
  std::string wav_path;  // file-system bytes, as are the two paths below
  int64_t line_no = -1;
  std::string save_dir;
  std::string log_path;
  py::object mix;  // the first channel, 64-bit floats at kModelRate
  int64_t file_rate = 0;
};

// The first recording truncates a shared --log_file; later ones append, so
// the file keeps the log of every recording of the run.
py::object open_logger(DriverRun& run, const Recording& rec, bool shared_log) {
  const py::object logger_type = leadvoice_attr("Logger");
  if (!shared_log || !run.shared_log_started) {
    run.shared_log_started = run.shared_log_started || shared_log;
    return logger_type(fs_decode(rec.log_path));
  }
  py::object logger = logger_type();
  logger.attr("log_file") = py::module_::import("builtins").attr("open")(
      fs_decode(rec.log_path), "a", py::arg("encoding") = "utf-8", py::arg("errors") = "surrogateescape");
  return logger;
}

// The first channel at the model rate; a signal the resampler refuses (too
// short for its filter) cannot be read at that rate either.
std::optional<TaskOutcome> bring_to_model_rate(Recording& rec, const py::object& mix) {
  if (rec.file_rate == kModelRate) {
    rec.mix = mix;
    return std::nullopt;
  }
  try {
    rec.mix = leadvoice_attr("librosa").attr("resample")(
        mix, py::arg("orig_sr") = rec.file_rate, py::arg("target_sr") = kModelRate, py::arg("res_type") = "kaiser_best");
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ValueError)) throw;
    py_print(unreadable_recording_warning(resampling_failed_text(rec.wav_path, rec.file_rate, py_str(e.value()))));
    return TaskOutcome::kUnreadable;
  }
  return std::nullopt;
}

// Fills the recording's samples and rate, or tells why the task is refused
// after its warning line.
std::optional<TaskOutcome> load_recording(Recording& rec) {
  AudioData audio;
  try {
    audio = read_recording(rec.wav_path);
  } catch (const OSError& e) {
    py_print(unreadable_recording_warning(e.what()));
    return TaskOutcome::kUnreadable;
  }
  py::array_t<double> mix(static_cast<py::ssize_t>(audio.frames));
  copy_first_channel(audio, mix.mutable_data());
  if (!all_finite(mix.data(), audio.frames)) {
    py_print(non_finite_recording_warning(rec.wav_path));
    return TaskOutcome::kNotFinite;
  }
  rec.file_rate = audio.sample_rate;
  return bring_to_model_rate(rec, mix);
}

void write_signal(const std::string& path, const py::object& signal) {
  write_mono_wav(kLeadvoicePackage, path, signal, py::int_(kModelRate), "signal");
}

void print_report(const py::object& segment_info, int64_t sample_rate) {
  py_print(report_header());
  for (const py::handle seg : segment_info) {
    const auto seg_idx = seg["seg_idx"].cast<int64_t>();
    const auto start_sample = seg["start_sample"].cast<int64_t>();
    const auto end_sample = seg["end_sample"].cast<int64_t>();
    std::vector<int64_t> ids;
    for (const py::handle gid : seg["global_ids"]) ids.push_back(gid.cast<int64_t>());
    py_print(segment_report_line(seg_idx, start_sample, end_sample, sample_rate, ids));
  }
}

// Streams that an earlier run left in the folder go before this one writes,
// so the folder holds only the streams of the recording just handled.
void clear_stale_streams(const Recording& rec) {
  const std::vector<std::string> removed = remove_stream_files(rec.save_dir);
  if (!removed.empty()) py_print(stale_streams_removed_line(rec.save_dir, removed.size()));
}

void process_recording(DriverRun& run, const Recording& rec) {
  py_print(log_will_be_saved_line(rec.log_path));
  clear_stale_streams(rec);
  if (rec.file_rate != kModelRate) py_print(resampled_warning(rec.wav_path, rec.file_rate, kModelRate));
  const py::object& mix = rec.mix;
  const int64_t sr = kModelRate;
  py_print(loaded_mix_line(rec.wav_path, sr, static_cast<int64_t>(py::len(mix))));
  const py::object processor = processor_from_options(kLeadvoicePackage, run.args, run.models, py::int_(sr));
  py_print(processing_start_line());
  const auto [global_streams, segment_info] = unpack_pair(processor.attr("process")(mix));
  py_print(speaker_count_line(py::len(global_streams)));
  const py::object main_gid = leadvoice_attr("select_main_channel")(global_streams, py::arg("sample_rate") = sr);

  const std::string mix_save_path = path_join(rec.save_dir, "mix.wav");
  write_signal(mix_save_path, mix);
  py_print(saved_mix_line(mix_save_path));
  if (main_gid.is_none()) {
    py_print(no_main_channel_warning());
  } else {
    const std::string main_save_path = path_join(rec.save_dir, main_speaker_file_name(py_str(main_gid)));
    write_signal(main_save_path, global_streams[main_gid]);
    py_print(saved_main_line(main_save_path));
  }
  print_report(segment_info, sr);
  py_print(finished_line(rec.save_dir));
}

void restore_console(const py::object& logger, const std::string& log_path) {
  leadvoice_attr("sys").attr("stdout") = logger.attr("terminal");
  logger.attr("close")();
  py_print(log_saved_line(log_path));
}

// The task list's line of the task, for naming it later; -1 when it has none.
int64_t task_line_no(const py::handle& task) {
  const py::object line_no = task.attr("get")("line_no", -1);
  return py::isinstance<py::int_>(line_no) ? line_no.cast<int64_t>() : -1;
}

// Two recordings with one stem share a folder: the later one is refused
// rather than overwrite the results of the earlier one.
bool folder_taken(const DriverRun& run, const Recording& rec, const std::string& folder_key) {
  const auto owner = run.used_folders.find(folder_key);
  if (owner == run.used_folders.end()) return false;
  py_print(folder_taken_warning(rec.wav_path, rec.save_dir, owner->second.wav_path, owner->second.line_no));
  return true;
}

}  // namespace

TaskOutcome run_recording(DriverRun& run, const py::handle& task) {
  Recording rec;
  rec.wav_path = fs_encode(task["wav_path"]);
  rec.line_no = task_line_no(task);
  rec.save_dir =
      path_join(fs_encode(run.args.attr("save_dir")), path_stem(std::string(path_basename(rec.wav_path))));
  const std::string folder_key = canonical_folder(rec.save_dir);
  if (folder_taken(run, rec, folder_key)) return TaskOutcome::kFolderTaken;
  if (const std::optional<TaskOutcome> refused = load_recording(rec)) return *refused;
  // Claimed only now: a recording that was not used leaves its folder free.
  run.used_folders.emplace(folder_key, FolderOwner{rec.wav_path, rec.line_no});

  leadvoice_attr("ensure_dir")(fs_decode(rec.save_dir));
  const py::object log_file = run.args.attr("log_file");
  const bool shared_log = !log_file.is_none() && py::bool_(log_file);
  rec.log_path = shared_log ? fs_encode(log_file) : path_join(rec.save_dir, "log.txt");

  const py::object logger = open_logger(run, rec, shared_log);
  leadvoice_attr("sys").attr("stdout") = logger;
  // Standard output is handed back on every way out, the first log write's
  // failure included, so nothing is ever printed into a closed log.
  try {
    process_recording(run, rec);
  } catch (...) {
    restore_console(logger, rec.log_path);
    throw;
  }
  restore_console(logger, rec.log_path);
  return TaskOutcome::kDone;
}

}  // namespace speech
