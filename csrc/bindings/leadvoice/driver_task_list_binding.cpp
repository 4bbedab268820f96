// collect_tasks_from_jsonl: the JSON-lines task list. Parsing, the real
// conversion and the file test are the interpreter's own (json, float,
// os.path.isfile), so lines are judged exactly as the tools that write these
// lists judge them. Bytes of the list that are not UTF-8 are taken as the
// file-system bytes of a path (surrogate escapes, as os.fsdecode makes them):
// a name that is not valid UTF-8 then names its file, and any other broken
// line is one parse failure instead of the end of the scan.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "common/errors.h"
#include "driver/task_list.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/scope_guards.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

const char* const kDoc =
    "从jsonl文件解析需要进行主通道筛选的任务列表。\n\n"
    "    每行一个JSON对象，字段：\n"
    "        prompt_wav: wav文件路径（必填）\n"
    "        multi_spks_rate: 多人说话比例（必填），仅当 > multi_spks_rate_threshold 时处理\n\n"
    "    过滤规则：multi_spks_rate 字段存在、可转为数值且 > 阈值（默认0.5）才保留，其余行跳过。\n\n"
    "    Returns:\n"
    "        list[dict]: 每个元素包含 wav_path (str), raw (dict), line_no (int)\n    ";

struct Scan {
  py::object threshold;
  driver::TaskListScan lines;
  py::list tasks;
};

// Counts the line under its verdict, printing the verdict's warning.
void note(Scan* scan, int64_t line_no, driver::TaskLineVerdict verdict, const std::string& detail = "") {
  const std::string warning = scan->lines.note(line_no, verdict, detail);
  if (!warning.empty()) pyutil::py_print(warning);
}

// Valid JSON that the parser still refuses (an integer of too many digits,
// nesting too deep) is a broken line like a syntax error.
// Nothing, with the parser's message in `error`, for a broken line.
std::optional<py::object> parsed_line(const py::object& text, std::string* error) {
  try {
    return leadvoice_attr("json").attr("loads")(text);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_RecursionError)) throw;
    *error = pyutil::py_str(e.value());
    return std::nullopt;
  }
}

std::optional<py::object> parse_line(const py::object& text, int64_t line_no, Scan* scan) {
  std::string error;
  std::optional<py::object> record = parsed_line(text, &error);
  if (!record) note(scan, line_no, driver::TaskLineVerdict::kParseFailed, error);
  return record;
}

// The rate as the interpreter's float() makes it; none for a value that the
// conversion refuses or overflows on.
std::optional<double> real_of(const py::object& raw_rate) {
  try {
    return py::module_::import("builtins").attr("float")(raw_rate).cast<double>();
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_TypeError) && !e.matches(PyExc_ValueError) && !e.matches(PyExc_OverflowError)) throw;
  }
  return std::nullopt;
}

std::string repr_of(const py::object& value) { return py::repr(value).cast<std::string>(); }

// The verdict on the line's "prompt_wav": a number would be taken for a file
// descriptor, other values fail the file test.
std::optional<driver::TaskLineVerdict> wav_refusal(const py::object& wav_path) {
  if (!py::bool_(wav_path)) return driver::TaskLineVerdict::kNoWav;
  if (!py::isinstance<py::str>(wav_path)) return driver::TaskLineVerdict::kWavNotText;
  if (!py::bool_(leadvoice_attr("os").attr("path").attr("isfile")(wav_path))) {
    return driver::TaskLineVerdict::kWavNotFound;
  }
  return std::nullopt;
}

std::string wav_detail(driver::TaskLineVerdict verdict, const py::object& wav_path) {
  if (verdict == driver::TaskLineVerdict::kWavNotText) return repr_of(wav_path);
  if (verdict == driver::TaskLineVerdict::kWavNotFound) return pyutil::fs_encode(wav_path);
  return "";
}

void scan_line(const py::object& line, int64_t line_no, Scan* scan) {
  const py::object text = line.attr("strip")();
  if (py::len(text) == 0) return;
  const std::optional<py::object> record = parse_line(text, line_no, scan);
  if (!record) return;
  if (!py::isinstance<py::dict>(*record)) return note(scan, line_no, driver::TaskLineVerdict::kNotObject);
  const auto object = py::reinterpret_borrow<py::dict>(*record);
  if (!object.contains("multi_spks_rate")) return note(scan, line_no, driver::TaskLineVerdict::kNoRateField);
  const py::object raw_rate = object["multi_spks_rate"];
  const std::optional<double> rate = real_of(raw_rate);
  if (!driver::usable_rate(rate)) {
    return note(scan, line_no, driver::TaskLineVerdict::kRateNotNumeric, repr_of(raw_rate));
  }
  // Compared as the interpreter compares, whatever the caller's threshold is.
  if (!(py::float_(*rate) > scan->threshold)) return note(scan, line_no, driver::TaskLineVerdict::kBelowThreshold);
  const py::object wav_path = object.attr("get")("prompt_wav");
  if (const auto refusal = wav_refusal(wav_path)) return note(scan, line_no, *refusal, wav_detail(*refusal, wav_path));
  py::dict task;
  task["wav_path"] = wav_path;
  task["raw"] = object;
  task["line_no"] = py::int_(line_no);
  scan->tasks.append(task);
  note(scan, line_no, driver::TaskLineVerdict::kAccepted);
}

py::object open_task_list(const py::object& jsonl_path) {
  return py::module_::import("builtins").attr("open")(jsonl_path, "r", py::arg("encoding") = "utf-8",
                                                      py::arg("errors") = "surrogateescape");
}

py::list collect_tasks_from_jsonl(py::object jsonl_path, py::object multi_spks_rate_threshold) {
  if (!py::bool_(leadvoice_attr("os").attr("path").attr("isfile")(jsonl_path))) {
    throw common::FileNotFoundError("jsonl file not found: " + pyutil::fs_encode(jsonl_path));
  }
  Scan scan{multi_spks_rate_threshold, driver::TaskListScan(), py::list()};
  const py::object file = open_task_list(jsonl_path);
  {
    const pyutil::ClosingFile closing(file);
    int64_t line_no = 0;
    for (const py::handle line : file) scan_line(py::reinterpret_borrow<py::object>(line), ++line_no, &scan);
  }
  pyutil::py_print(driver::task_list_summary(scan.lines.counters(), pyutil::py_str(multi_spks_rate_threshold)));
  return scan.tasks;
}

}  // namespace

std::vector<driver::RecordingInput> task_list_recordings(const py::object& jsonl_path) {
  std::vector<driver::RecordingInput> recordings;
  const py::object file = open_task_list(jsonl_path);
  const pyutil::ClosingFile closing(file);
  int64_t line_no = 0;
  std::string ignored;
  for (const py::handle line : file) {
    ++line_no;
    const std::optional<py::object> record = parsed_line(line.attr("strip")(), &ignored);
    if (!record || !py::isinstance<py::dict>(*record)) continue;
    const py::object wav_path = record->attr("get")("prompt_wav");
    if (py::isinstance<py::str>(wav_path) && py::len(wav_path) > 0) {
      recordings.push_back({pyutil::fs_encode(wav_path), line_no});
    }
  }
  return recordings;
}

void define_task_list(py::module_& m) {
  pyutil::def_function(m, "collect_tasks_from_jsonl", &collect_tasks_from_jsonl, py::arg("jsonl_path"),
                       py::arg("multi_spks_rate_threshold") = 0.5, kDoc);
}

}  // namespace speech
