// main: the command-line run. Options, device, utterance list, the three
// models loaded once, then every scp entry through its gates with one result
// line each, and the summary of the counts.
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bindings/driver_steps/device.h"
#include "bindings/driver_steps/models.h"
#include "bindings/triageflow/interpreter_ops.h"
#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/registration.h"
#include "bindings/triageflow/run_parts.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"
#include "triage/messages.h"
#include "triage/result_over_inputs.h"

namespace py = pybind11;

namespace speech {
namespace {

using Entry = std::pair<py::object, py::object>;

// Every entry as its pair before anything is written, so a malformed list
// ends the run while the result file is still untouched.
std::vector<Entry> unpacked_entries(const py::list& items) {
  std::vector<Entry> entries;
  entries.reserve(items.size());
  for (const py::handle item : items) entries.push_back(pyutil::unpack_pair(item));
  return entries;
}

// The run's inputs as the core's refusal asks for them, each encoded only
// when asked.
class ParsedInputs : public triage::RunInputs {
 public:
  ParsedInputs(const py::object& args, const std::vector<Entry>& entries) : args_(args), entries_(entries) {}
  std::string detector_ckpt() const override { return pyutil::fs_encode(args_.attr("detector_ckpt")); }
  std::string inference() const override { return pyutil::fs_encode(args_.attr("inference")); }
  size_t entry_count() const override { return entries_.size(); }
  std::string wav_path(size_t entry) const override { return pyutil::fs_encode(entries_[entry].second); }
  std::string utt_id(size_t entry) const override { return pyutil::fs_encode(entries_[entry].first); }

 private:
  const py::object& args_;
  const std::vector<Entry>& entries_;
};

void make_output_folders(const py::object& args) {
  const py::object ensure_dir = triage_attr("ensure_dir");
  ensure_dir(args.attr("save_dir"));
  const py::object path = triage_attr("os").attr("path");
  ensure_dir(path.attr("dirname")(path.attr("abspath")(args.attr("out_jsonl"))));
}

void load_models(TriageRun& run) {
  const py::object& args = run.args;
  pyutil::py_print(triage::kStage1Line);
  run.detector = triage_attr("MultiSpeakerDetector")(args.attr("detector_ckpt"), run.models.device);
  pyutil::py_print(triage::kStage2Line);
  run.models.network =
      load_separation_network(kTriagePackage, args.attr("inference"), run.models.device, EvalTarget::kMovedNetwork);
  pyutil::py_print(triage::kStage3Line);
  run.models.tracker = tracker_from_options(kTriagePackage, args);
}

triage::GateSettings gate_settings(const py::object& args) {
  triage::GateSettings settings;
  settings.threshold = args.attr("multi_spks_threshold").cast<double>();
  settings.threshold_text = pyutil::py_str(args.attr("multi_spks_threshold"));
  settings.hop = args.attr("hop_duration").cast<double>();
  settings.hop_text = pyutil::py_str(args.attr("hop_duration"));
  return settings;
}

void run_loop(TriageRun& run, const std::vector<Entry>& entries) {
  size_t idx = 0;
  for (const auto& [utt_id, wav_path] : entries) run.counts.add(handle_utterance(run, ++idx, utt_id, wav_path));
}

void triage_main() {
  TriageRun run;
  run.args = triage_attr("parse_args")();
  const py::object& args = run.args;
  const std::string scp = pyutil::fs_encode(args.attr("scp"));
  triage::refuse_result_over_list(pyutil::fs_encode(args.attr("out_jsonl")), scp);
  run.models.device = choose_device(kTriagePackage, args.attr("device"), triage::kCudaFallbackLine);
  const py::list items = triage_attr("parse_scp")(args.attr("scp"));
  pyutil::py_print(triage::scp_count_line(py::len(items), scp));
  if (items.empty()) {
    pyutil::py_print(triage::kEmptyScpLine);
    return;
  }
  const std::vector<Entry> entries = unpacked_entries(items);
  const ParsedInputs inputs(args, entries);
  triage::refuse_result_over_inputs(pyutil::fs_encode(args.attr("out_jsonl")), inputs);
  triage::refuse_result_over_outputs(pyutil::fs_encode(args.attr("out_jsonl")), pyutil::fs_encode(args.attr("save_dir")),
                                     inputs);
  triage::refuse_folders_over_wavs(pyutil::fs_encode(args.attr("save_dir")), inputs);
  make_output_folders(args);
  // Locked before the models load, so a second run on the same file stops
  // at once; emptied only once they have loaded, so a run that cannot start
  // leaves an earlier result as it was.
  run.result_file = std::make_unique<triage::ResultFile>(pyutil::fs_encode(args.attr("out_jsonl")));
  load_models(run);

  run.settings = gate_settings(args);
  const std::string save_dir = pyutil::fs_encode(args.attr("save_dir"));
  run.folders = triage::UtteranceFolders(save_dir);
  run.counts.total = py::len(items);

  run.result_file->truncate();
  // Closed on every way out (with the run), each line already written whole.
  run_loop(run, entries);
  run.result_file.reset();

  const triage::SummaryLines summary =
      triage::summary_lines(run.counts, pyutil::fs_encode(args.attr("out_jsonl")), save_dir);
  for (const std::string& line : summary.lines) pyutil::py_print(line);
}

}  // namespace

void define_triage_main(py::module_& m) { pyutil::def_function(m, "main", &triage_main); }

}  // namespace speech
