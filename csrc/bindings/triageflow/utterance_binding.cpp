// One scp entry of a run: the gates (wav exists, it loads, the detector
// scores it with a finite rate, the rate reaches the threshold, it is longer
// than one hop, its id names a folder inside the save folder that no earlier
// entry of the run has separated into, the folder and its log can be made),
// the separation with standard output teed into the utterance's log, and the
// entry's one result line, written whole as the entry ends.
#include <pybind11/pybind11.h>

#include <cmath>
#include <string>
#include <string_view>

#include "bindings/driver_steps/models.h"
#include "bindings/triageflow/interpreter_ops.h"
#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/run_parts.h"
#include "common/number_format.h"
#include "driver/output_folder.h"
#include "driver/paths.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "triage/input_files.h"
#include "triage/messages.h"
#include "triage/utterance_folder.h"

namespace py = pybind11;

namespace speech {
namespace {

struct Utterance {
  size_t idx = 0;
  py::object utt_id;
  py::object wav_path;
  std::string id;
  std::string path;
  py::dict record;
  py::object audio_16k;
  py::object sr;
  py::object rate;
};

// json.dumps keeps a lone surrogate (a path that is not valid UTF-8) as
// itself, which no UTF-8 file can hold; as a \uXXXX escape the line stays
// valid JSON and reads back to the same text.
void write_record(const TriageRun& run, const py::dict& record) {
  const py::str line = triage_attr("json")
                           .attr("dumps")(record, py::arg("ensure_ascii") = false)
                           .attr("encode")("utf-8", "backslashreplace")
                           .attr("decode")("utf-8") +
                       py::str("\n");
  // Encoded as the UTF-8 text file would encode it, strictly.
  const py::bytes encoded = line.attr("encode")("utf-8");
  run.result_file->append(std::string_view(encoded));
}

// The three early failures: no rate was obtained.
Outcome early_failure(const TriageRun& run, Utterance& u, const std::string& error) {
  u.record["multi_spks"] = false;
  u.record["multi_spks_rate"] = py::none();
  u.record["error"] = utf8_text(error);
  write_record(run, u.record);
  return Outcome::kFailed;
}

bool load_gate(const TriageRun& run, Utterance& u, Outcome* outcome) {
  const auto failure = run_guarded([&] {
    const auto [audio, sr] = unpack_pair(triage_attr("load_audio_16k")(u.wav_path));
    u.audio_16k = audio;
    u.sr = sr;
  });
  if (!failure) return true;
  py_print(load_failed_line(failure->text));
  *outcome = early_failure(run, u, load_failed_error(failure->text));
  return false;
}

// A rate that is not a finite number cannot be compared with the threshold
// nor written as JSON: it is a failure of the detector.
bool detector_gate(const TriageRun& run, Utterance& u, double* rate, Outcome* outcome) {
  std::string not_finite;
  const auto failure = run_guarded([&] {
    u.rate = run.detector.attr("predict")(u.audio_16k);
    *rate = py::float_(u.rate).cast<double>();
    if (!std::isfinite(*rate)) not_finite = non_finite_rate_text(format_repr(*rate));
  });
  const std::string text = failure ? failure->text : not_finite;
  if (!failure && not_finite.empty()) return true;
  py_print(detector_failed_line(text));
  *outcome = early_failure(run, u, detector_failed_error(text));
  return false;
}

void print_traceback(const OrdinaryError& error) {
  py::module_::import("traceback").attr("print_exception")(error.type, error.value, error.trace);
}

// The protected block of one utterance, with standard output already teed
// into `log_path`.
Outcome separate(const TriageRun& run, Utterance& u, const std::string& log_path) {
  const size_t keys_before = py::len(u.record);
  const auto failure = run_guarded([&] {
    py_print(log_file_line(log_path));
    py_print(audio_line(u.path, true_divide(py::int_(py::len(u.audio_16k)), u.sr), u.sr.cast<long>()));
    const py::object css_processor = processor_from_options(kTriagePackage, run.args, run.models, u.sr);
    const py::object sep_result = triage_attr("run_separation_and_save")(
        py::arg("utt_id") = u.utt_id, py::arg("wav_path") = u.wav_path, py::arg("audio_16k") = u.audio_16k,
        py::arg("sr") = u.sr, py::arg("save_dir") = run.args.attr("save_dir"),
        py::arg("css_processor") = css_processor);
    u.record.attr("update")(sep_result);
  });
  if (failure) {
    py_print(separation_failed_line(failure->text));
    print_traceback(*failure);
    u.record["error"] = utf8_text(separation_failed_error(failure->text));
    return Outcome::kFailed;
  }
  // Every separation that keeps a stream adds its path.
  if (py::len(u.record) == keys_before) {
    py_print(separation_failed_line(kNoStreamKeptText));
    u.record["error"] = separation_failed_error(kNoStreamKeptText);
    return Outcome::kFailed;
  }
  return Outcome::kMulti;
}

// A folder or log that cannot be made belongs to this entry alone: its
// line says why, and the run goes on.
Outcome output_failure(const TriageRun& run, Utterance& u, const std::string& line, const std::string& error) {
  py_print(line);
  u.record["error"] = utf8_text(error);
  write_record(run, u.record);
  return Outcome::kFailed;
}

Outcome separation_phase(TriageRun& run, Utterance& u, const std::string& utt_save_dir) {
  if (const auto failure = run_guarded([&] { triage_attr("ensure_dir")(fs_decode(utt_save_dir)); })) {
    return output_failure(run, u, folder_failed_line(failure->text), folder_failed_error(failure->text));
  }
  const std::string log_path = path_join(utt_save_dir, "log.txt");
  py::object logger;
  if (const auto failure = run_guarded([&] { logger = triage_attr("Logger")(fs_decode(log_path)); })) {
    return output_failure(run, u, log_failed_line(failure->text), log_failed_error(failure->text));
  }
  run.used_folders.emplace(canonical_folder(utt_save_dir), u.idx);
  const py::object sys = triage_attr("sys");
  const py::object old_stdout = sys.attr("stdout");
  sys.attr("stdout") = logger;
  Outcome outcome = Outcome::kFailed;
  try {
    outcome = separate(run, u, log_path);
  } catch (...) {
    sys.attr("stdout") = old_stdout;
    logger.attr("close")();
    throw;
  }
  sys.attr("stdout") = old_stdout;
  logger.attr("close")();
  write_record(run, u.record);
  return outcome;
}

Outcome gates(TriageRun& run, Utterance& u) {
  if (!is_regular_file(u.path)) {
    py_print(wav_missing_line(u.path));
    return early_failure(run, u, kWavNotFoundError);
  }
  Outcome outcome = Outcome::kFailed;
  if (!load_gate(run, u, &outcome)) return outcome;
  double rate = 0.0;
  if (!detector_gate(run, u, &rate, &outcome)) return outcome;

  u.record["multi_spks_rate"] = u.rate;
  py_print(rate_line(rate, run.threshold_text));
  if (rate < run.threshold) {
    u.record["multi_spks"] = false;
    write_record(run, u.record);
    py_print(kSingleSpeakerLine);
    return Outcome::kSingle;
  }
  const double duration = true_divide(py::int_(py::len(u.audio_16k)), u.sr);
  if (duration <= run.hop) {
    u.record["multi_spks"] = true;
    u.record["error"] = too_short_error(duration, run.hop_text);
    write_record(run, u.record);
    py_print(too_short_line(duration, run.hop_text));
    return Outcome::kFailed;
  }
  u.record["multi_spks"] = true;
  // Nothing is created for an id that would lead out of the save folder or
  // that the file system cannot hold; the run goes on with the next entry.
  const std::string unsafe = unsafe_utt_id_reason(u.id, name_max_of(run.save_dir));
  if (!unsafe.empty()) {
    py_print(unsafe_id_line(unsafe));
    u.record["error"] = utf8_text(unsafe_id_error(unsafe));
    write_record(run, u.record);
    return Outcome::kFailed;
  }
  const std::string utt_save_dir = path_join(run.save_dir, u.id);
  const auto used = run.used_folders.find(canonical_folder(utt_save_dir));
  if (used != run.used_folders.end()) {
    py_print(folder_taken_line(used->second, utt_save_dir));
    u.record["error"] = utf8_text(folder_taken_error(used->second, utt_save_dir));
    write_record(run, u.record);
    return Outcome::kFailed;
  }
  return separation_phase(run, u, utt_save_dir);
}

}  // namespace

Outcome handle_utterance(TriageRun& run, size_t idx, const py::object& utt_id, const py::object& wav_path) {
  Utterance u;
  u.idx = idx;
  u.utt_id = utt_id;
  u.wav_path = wav_path;
  u.id = fs_encode(utt_id);
  u.path = fs_encode(wav_path);
  py_print(utterance_header(idx, run.counts.total, u.id));
  u.record["id"] = utt_id;
  u.record["wav_path"] = wav_path;
  return gates(run, u);
}

}  // namespace speech
