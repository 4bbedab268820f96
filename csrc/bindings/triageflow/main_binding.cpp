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
#include "common/errors.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "triage/input_files.h"
#include "triage/messages.h"

namespace py = pybind11;

namespace speech {
namespace {

// Starting the result file empties it: a result path that is the input list
// itself, under any spelling or link, would lose the list.
void refuse_result_over_list(const py::object& args) {
  const std::string scp = fs_encode(args.attr("scp"));
  const std::string out_jsonl = fs_encode(args.attr("out_jsonl"));
  if (same_existing_file(scp, out_jsonl)) throw ValueError(result_is_list_error(out_jsonl, scp));
}

using Entry = std::pair<py::object, py::object>;

// Every entry as its pair before anything is written, so a malformed list
// ends the run while the result file is still untouched.
std::vector<Entry> unpacked_entries(const py::list& items) {
  std::vector<Entry> entries;
  entries.reserve(items.size());
  for (const py::handle item : items) entries.push_back(unpack_pair(item));
  return entries;
}

// Truncating the result file would destroy any input that it is: refused
// before the file is opened, naming the input.
void refuse_result_over_inputs(const py::object& args, const std::vector<Entry>& entries) {
  const std::string out_jsonl = fs_encode(args.attr("out_jsonl"));
  const auto result = identity_of(out_jsonl);
  if (!result) return;
  const struct {
    const char* option;
    const char* what;
  } checkpoints[] = {{"detector_ckpt", "多说话人检测模型权重"}, {"inference", "CSS 分离模型权重"}};
  for (const auto& checkpoint : checkpoints) {
    const std::string path = fs_encode(args.attr(checkpoint.option));
    if (identity_of(path) == result) {
      throw ValueError(result_is_input_error(out_jsonl, std::string("--") + checkpoint.option, checkpoint.what,
                                             std::string(checkpoint.option) + ": " + path));
    }
  }
  size_t idx = 0;
  for (const auto& [utt_id, wav_path] : entries) {
    ++idx;
    const std::string path = fs_encode(wav_path);
    if (identity_of(path) == result) throw ValueError(result_is_wav_error(out_jsonl, idx, fs_encode(utt_id), path));
  }
}

void make_output_folders(const py::object& args) {
  const py::object ensure_dir = triage_attr("ensure_dir");
  ensure_dir(args.attr("save_dir"));
  const py::object path = triage_attr("os").attr("path");
  ensure_dir(path.attr("dirname")(path.attr("abspath")(args.attr("out_jsonl"))));
}

void load_models(TriageRun& run) {
  const py::object& args = run.args;
  py_print(kStage1Line);
  run.detector = triage_attr("MultiSpeakerDetector")(args.attr("detector_ckpt"), run.models.device);
  py_print(kStage2Line);
  run.models.network =
      load_separation_network(kTriagePackage, args.attr("inference"), run.models.device, EvalTarget::kMovedNetwork);
  py_print(kStage3Line);
  run.models.tracker = tracker_from_options(kTriagePackage, args);
}

void count(RunCounts& counts, Outcome outcome) {
  switch (outcome) {
    case Outcome::kSingle:
      ++counts.single;
      break;
    case Outcome::kMulti:
      ++counts.multi;
      break;
    case Outcome::kFailed:
      ++counts.failed;
      break;
  }
}

void run_loop(TriageRun& run, const std::vector<Entry>& entries) {
  size_t idx = 0;
  for (const auto& [utt_id, wav_path] : entries) {
    ++idx;
    count(run.counts, handle_utterance(run, idx, utt_id, wav_path));
  }
}

void triage_main() {
  TriageRun run;
  run.args = triage_attr("parse_args")();
  const py::object& args = run.args;
  refuse_result_over_list(args);
  run.models.device = choose_device(kTriagePackage, args.attr("device"), kCudaFallbackLine);
  const py::list items = triage_attr("parse_scp")(args.attr("scp"));
  py_print(scp_count_line(py::len(items), fs_encode(args.attr("scp"))));
  if (items.empty()) {
    py_print(kEmptyScpLine);
    return;
  }
  const std::vector<Entry> entries = unpacked_entries(items);
  refuse_result_over_inputs(args, entries);
  make_output_folders(args);
  // Locked before the models load, so a second run on the same file stops
  // at once; emptied only once they have loaded, so a run that cannot start
  // leaves an earlier result as it was.
  run.result_file = std::make_unique<ResultFile>(fs_encode(args.attr("out_jsonl")));
  load_models(run);

  run.threshold = args.attr("multi_spks_threshold").cast<double>();
  run.threshold_text = py_str(args.attr("multi_spks_threshold"));
  run.hop = args.attr("hop_duration").cast<double>();
  run.hop_text = py_str(args.attr("hop_duration"));
  run.save_dir = fs_encode(args.attr("save_dir"));
  run.counts.total = py::len(items);

  run.result_file->truncate();
  // Closed on every way out (with the run), each line already written whole.
  run_loop(run, entries);
  run.result_file.reset();

  const SummaryLines summary = summary_lines(run.counts, fs_encode(args.attr("out_jsonl")), run.save_dir);
  for (const std::string& line : summary.lines) py_print(line);
}

}  // namespace

void define_triage_main(py::module_& m) { m.def("main", &triage_main); }

}  // namespace speech
