// One scp entry of a run: the interpreter's side of its gates (loading, the
// detector, the folder and its log, the separation with standard output
// teed into the utterance's log), each gate's verdict taken from the core,
// and the entry's one result line, written whole as the entry ends.
#include <pybind11/pybind11.h>

#include <string>
#include <string_view>
#include <variant>

#include "bindings/driver_steps/models.h"
#include "bindings/triageflow/interpreter_ops.h"
#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/run_parts.h"
#include "common/os_path.h"
#include "driver/paths.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/scope_guards.h"
#include "triage/gates.h"
#include "triage/messages.h"

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

// The verdict's end of the record, then the record as the entry's line.
triage::Outcome record_verdict(const TriageRun& run, Utterance& u, const triage::Verdict& verdict) {
  u.record["multi_spks"] = py::bool_(verdict.multi_spks);
  if (!verdict.rated) u.record["multi_spks_rate"] = py::none();
  if (!verdict.error.empty()) u.record["error"] = pyutil::utf8_text(verdict.error);
  write_record(run, u.record);
  return verdict.outcome;
}

// A verdict reached outside the utterance's log: its line and its record.
triage::Outcome settle(const TriageRun& run, Utterance& u, const triage::Verdict& verdict) {
  if (!verdict.line_after_record) pyutil::py_print(verdict.line);
  const triage::Outcome outcome = record_verdict(run, u, verdict);
  if (verdict.line_after_record) pyutil::py_print(verdict.line);
  return outcome;
}

std::optional<pyutil::OrdinaryError> load(Utterance& u) {
  return pyutil::run_guarded([&] {
    const auto [audio, sr] = pyutil::unpack_pair(triage_attr("load_audio_16k")(u.wav_path));
    u.audio_16k = audio;
    u.sr = sr;
  });
}

std::optional<pyutil::OrdinaryError> detect(const TriageRun& run, Utterance& u, double* rate) {
  return pyutil::run_guarded([&] {
    u.rate = run.detector.attr("predict")(u.audio_16k);
    *rate = py::float_(u.rate).cast<double>();
  });
}

double duration_of(const Utterance& u) { return true_divide(py::int_(py::len(u.audio_16k)), u.sr); }

void print_traceback(const pyutil::OrdinaryError& error) {
  py::module_::import("traceback").attr("print_exception")(error.type, error.value, error.trace);
}

// The handler's line, printed through the utterance's Logger. A log that
// fails here (a full disk) has shown the line on the console and given up its
// file; the entry already fails with the separation's own error, and the
// run goes on.
void print_into_log(const std::string& line) {
  static_cast<void>(pyutil::run_guarded([&] { pyutil::py_print(line); }));
}

// The protected block of one utterance, with standard output already teed
// into `log_path`; the verdict's line goes into the log.
triage::Verdict separate(const TriageRun& run, Utterance& u, const std::string& log_path) {
  const size_t keys_before = py::len(u.record);
  const auto failure = pyutil::run_guarded([&] {
    pyutil::py_print(triage::log_file_line(log_path));
    pyutil::py_print(triage::audio_line(u.path, duration_of(u), u.sr.cast<long>()));
    const py::object css_processor = processor_from_options(kTriagePackage, run.args, run.models, u.sr);
    const py::object sep_result = triage_attr("run_separation_and_save")(
        py::arg("utt_id") = u.utt_id, py::arg("wav_path") = u.wav_path, py::arg("audio_16k") = u.audio_16k,
        py::arg("sr") = u.sr, py::arg("save_dir") = run.args.attr("save_dir"),
        py::arg("css_processor") = css_processor);
    u.record.attr("update")(sep_result);
  });
  // Every separation that keeps a stream adds its path.
  const triage::Verdict verdict = triage::separation_verdict(failure_text(failure), py::len(u.record) != keys_before);
  if (!verdict.line.empty()) print_into_log(verdict.line);
  if (failure) print_traceback(*failure);
  return verdict;
}

// Standard output teed into the utterance's log for its separation. The
// final clause, on every way out, an interrupt's included: the saved stream
// back as standard output, then the log closed.
triage::Verdict separate_logged(const TriageRun& run, Utterance& u, const py::object& logger,
                                const std::string& log_path) {
  const py::object sys = triage_attr("sys");
  const pyutil::ClosingFile closing(logger);
  const pyutil::StdoutRedirect redirect(sys, logger, sys.attr("stdout"));
  return separate(run, u, log_path);
}

triage::Outcome separation_phase(TriageRun& run, Utterance& u, const std::string& utt_save_dir) {
  if (const auto failure = pyutil::run_guarded([&] { triage_attr("ensure_dir")(pyutil::fs_decode(utt_save_dir)); })) {
    return settle(run, u, triage::folder_failure(failure->text));
  }
  const std::string log_path = common::path_join(utt_save_dir, driver::kFolderLogName);
  py::object logger;
  if (const auto failure = pyutil::run_guarded([&] { logger = triage_attr("Logger")(pyutil::fs_decode(log_path)); })) {
    return settle(run, u, triage::log_failure(failure->text));
  }
  run.folders.claim(utt_save_dir, u.idx);
  const triage::Verdict verdict = separate_logged(run, u, logger, log_path);
  return record_verdict(run, u, verdict);
}

triage::Outcome gates(TriageRun& run, Utterance& u) {
  if (const auto stop = triage::missing_wav(u.path)) return settle(run, u, *stop);
  if (const auto failure = load(u)) return settle(run, u, triage::load_failure(failure->text));
  double rate = 0.0;
  const auto detector_failure = detect(run, u, &rate);
  if (const auto stop = triage::detection_failure(failure_text(detector_failure), rate)) return settle(run, u, *stop);

  u.record["multi_spks_rate"] = u.rate;
  pyutil::py_print(triage::rate_line(rate, run.settings.threshold_text));
  if (const auto stop = triage::single_speaker(rate, run.settings)) return settle(run, u, *stop);
  if (const auto stop = triage::too_short(duration_of(u), run.settings)) return settle(run, u, *stop);
  u.record["multi_spks"] = true;
  // Nothing is created for an id the core refuses; the run goes on.
  const std::variant<std::string, triage::Verdict> folder = run.folders.admit(u.id);
  if (const auto* stop = std::get_if<triage::Verdict>(&folder)) return settle(run, u, *stop);
  return separation_phase(run, u, std::get<std::string>(folder));
}

}  // namespace

triage::Outcome handle_utterance(TriageRun& run, size_t idx, const py::object& utt_id, const py::object& wav_path) {
  Utterance u;
  u.idx = idx;
  u.utt_id = utt_id;
  u.wav_path = wav_path;
  u.id = pyutil::fs_encode(utt_id);
  u.path = pyutil::fs_encode(wav_path);
  pyutil::py_print(triage::utterance_header(idx, run.counts.total, u.id));
  u.record["id"] = utt_id;
  u.record["wav_path"] = wav_path;
  return gates(run, u);
}

}  // namespace speech
