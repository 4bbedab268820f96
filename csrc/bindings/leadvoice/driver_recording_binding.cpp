// One recording of a driver run: its output folder and log, reading (at the
// rate the tracker and the voice-activity model expect), separation, the
// main-channel choice, the wav files and the per-window report.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "common/errors.h"
#include "common/wav_io.h"
#include "driver/output_folder.h"
#include "driver/paths.h"
#include "driver/run_messages.h"
#include "pyutil/py_print.h"
#include "pyutil/unpack_pair.h"

namespace py = pybind11;

namespace speech {
namespace {

constexpr int64_t kModelRate = 16000;

struct Recording {
  std::string wav_path;
  std::string save_dir;
  std::string log_path;
};

// The first recording truncates a shared --log_file; later ones append, so
// the file keeps the log of every recording of the run.
py::object open_logger(DriverRun& run, const Recording& rec, bool shared_log) {
  const py::object logger_type = leadvoice_attr("Logger");
  if (!shared_log || !run.shared_log_started) {
    run.shared_log_started = run.shared_log_started || shared_log;
    return logger_type(rec.log_path);
  }
  py::object logger = logger_type();
  logger.attr("log_file") =
      py::module_::import("builtins").attr("open")(rec.log_path, "a", py::arg("encoding") = "utf-8");
  return logger;
}

// The first channel of the file, as 64-bit floats, and its rate.
std::pair<py::object, int64_t> read_mix(const std::string& wav_path) {
  const AudioData audio = read_audio(wav_path);
  py::array_t<double> mix(static_cast<py::ssize_t>(audio.frames));
  copy_first_channel(audio, mix.mutable_data());
  return {mix, audio.sample_rate};
}

void write_signal(const std::string& path, const py::object& signal, int64_t sample_rate) {
  const py::array array = leadvoice_attr("np").attr("ascontiguousarray")(signal);
  if (array.ndim() != 1) {
    throw ValueError("signal for " + path + " must be 1-D, got " + std::to_string(array.ndim()) + " dimensions");
  }
  if (array.dtype().is(py::dtype::of<float>())) {
    const auto samples = py::array_t<float>::ensure(array);
    write_wav(path, samples.data(), samples.size(), 1, static_cast<int>(sample_rate));
    return;
  }
  const auto samples = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!samples) throw py::error_already_set();
  write_wav(path, samples.data(), samples.size(), 1, static_cast<int>(sample_rate));
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

py::object build_processor(const DriverRun& run, int64_t sample_rate) {
  const py::object& args = run.args;
  return leadvoice_attr("CSSProcessor")(
      py::arg("separation_model") = run.model, py::arg("speaker_tracker") = run.speaker_tracker,
      py::arg("max_speakers") = args.attr("max_speakers"), py::arg("seg_duration") = args.attr("seg_duration"),
      py::arg("hop_duration") = args.attr("hop_duration"), py::arg("sample_rate") = py::int_(sample_rate),
      py::arg("sisdr_threshold") = args.attr("sisdr_threshold"),
      py::arg("sisdr_threshold_prev") = args.attr("sisdr_threshold_prev"),
      py::arg("merge_threshold") = args.attr("merge_threshold"), py::arg("device") = run.device,
      py::arg("segments_save_dir") = py::none());
}

// A folder that an earlier task of this run wrote to loses its main-speaker
// files first, so no stream of the earlier recording stays beside the new one.
void clear_reused_folder(DriverRun& run, const Recording& rec) {
  if (run.used_folders.insert(canonical_folder(rec.save_dir)).second) return;
  const std::vector<std::string> removed = remove_main_speaker_files(rec.save_dir);
  py_print(reused_folder_warning(rec.save_dir, removed.size()));
}

void process_recording(DriverRun& run, const Recording& rec) {
  py_print(log_will_be_saved_line(rec.log_path));
  clear_reused_folder(run, rec);
  auto [mix, sr] = read_mix(rec.wav_path);
  if (sr != kModelRate) {
    mix = leadvoice_attr("librosa").attr("resample")(mix, py::arg("orig_sr") = sr, py::arg("target_sr") = kModelRate,
                                                     py::arg("res_type") = "kaiser_best");
    py_print(resampled_warning(rec.wav_path, sr, kModelRate));
    sr = kModelRate;
  }
  py_print(loaded_mix_line(rec.wav_path, sr, static_cast<int64_t>(py::len(mix))));
  const py::object processor = build_processor(run, sr);
  py_print(processing_start_line());
  const auto [global_streams, segment_info] = unpack_pair(processor.attr("process")(mix));
  py_print(speaker_count_line(py::len(global_streams)));
  const py::object main_gid = leadvoice_attr("select_main_channel")(global_streams, py::arg("sample_rate") = sr);

  const std::string mix_save_path = path_join(rec.save_dir, "mix.wav");
  write_signal(mix_save_path, mix, sr);
  py_print(saved_mix_line(mix_save_path));
  if (main_gid.is_none()) {
    py_print(no_main_channel_warning());
  } else {
    const std::string main_save_path = path_join(rec.save_dir, main_speaker_file_name(py_str(main_gid)));
    write_signal(main_save_path, global_streams[main_gid], sr);
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

}  // namespace

void run_recording(DriverRun& run, const py::handle& task) {
  Recording rec;
  rec.wav_path = py_str(task["wav_path"]);
  rec.save_dir = path_join(py_str(run.args.attr("save_dir")), path_stem(std::string(path_basename(rec.wav_path))));
  leadvoice_attr("ensure_dir")(rec.save_dir);
  const py::object log_file = run.args.attr("log_file");
  const bool shared_log = !log_file.is_none() && py::bool_(log_file);
  rec.log_path = shared_log ? py_str(log_file) : path_join(rec.save_dir, "log.txt");

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
}

}  // namespace speech
