// collect_tasks_from_jsonl: the JSON-lines task list. Parsing, the real
// conversion and the file test are the interpreter's own (json, float,
// os.path.isfile), so lines are judged exactly as the tools that write these
// lists judge them. Bytes of the list that are not UTF-8 are taken as the
// file-system bytes of a path (surrogate escapes, as os.fsdecode makes them):
// a name that is not valid UTF-8 then names its file, and any other broken
// line is one parse failure instead of the end of the scan.
#include <pybind11/pybind11.h>

#include <cmath>
#include <optional>
#include <string>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "common/errors.h"
#include "driver/task_list.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"

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
  TaskListCounters counters;
  py::list tasks;
};

// Valid JSON that the parser still refuses (an integer of too many digits,
// nesting too deep) is a broken line like a syntax error.
std::optional<py::object> parse_line(const py::object& text, int64_t line_no) {
  try {
    return leadvoice_attr("json").attr("loads")(text);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_RecursionError)) throw;
    py_print(parse_failure_warning(line_no, py_str(e.value())));
    return std::nullopt;
  }
}

// The rate as a finite real; none (after a warning) for a value the real
// conversion refuses or overflows on, and for NaN and the infinities, which
// say nothing about how many talkers a recording holds.
std::optional<double> read_rate(const py::object& raw_rate, int64_t line_no) {
  std::optional<double> rate;
  try {
    rate = py::module_::import("builtins").attr("float")(raw_rate).cast<double>();
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_TypeError) && !e.matches(PyExc_ValueError) && !e.matches(PyExc_OverflowError)) throw;
  }
  if (rate && std::isfinite(*rate)) return rate;
  py_print(rate_not_numeric_warning(line_no, py::repr(raw_rate).cast<std::string>()));
  return std::nullopt;
}

// Whether the line's "prompt_wav" names an existing file; warns otherwise.
bool check_wav(const py::object& wav_path, int64_t line_no, TaskListCounters* counters) {
  if (!py::bool_(wav_path)) {
    py_print(missing_wav_warning(line_no));
    ++counters->skipped_missing_wav;
    return false;
  }
  // A number would be taken for a file descriptor, other values fail the test.
  if (!py::isinstance<py::str>(wav_path)) {
    py_print(wav_not_text_warning(line_no, py::repr(wav_path).cast<std::string>()));
    ++counters->skipped_invalid;
    return false;
  }
  if (!py::bool_(leadvoice_attr("os").attr("path").attr("isfile")(wav_path))) {
    py_print(wav_not_found_warning(line_no, fs_encode(wav_path)));
    ++counters->skipped_missing_wav;
    return false;
  }
  return true;
}

void scan_line(const py::object& line, int64_t line_no, Scan* scan) {
  const py::object text = line.attr("strip")();
  if (py::len(text) == 0) return;
  TaskListCounters& counters = scan->counters;
  ++counters.total;
  const std::optional<py::object> record = parse_line(text, line_no);
  if (!record) {
    ++counters.skipped_invalid;
    return;
  }
  if (!py::isinstance<py::dict>(*record)) {
    py_print(not_object_warning(line_no));
    ++counters.skipped_invalid;
    return;
  }
  const auto object = py::reinterpret_borrow<py::dict>(*record);
  if (!object.contains("multi_spks_rate")) {
    ++counters.skipped_no_field;
    return;
  }
  const std::optional<double> rate = read_rate(object["multi_spks_rate"], line_no);
  if (!rate) {
    ++counters.skipped_invalid;
    return;
  }
  if (!(py::float_(*rate) > scan->threshold)) {
    ++counters.skipped_below_thresh;
    return;
  }
  const py::object wav_path = object.attr("get")("prompt_wav");
  if (!check_wav(wav_path, line_no, &counters)) return;
  py::dict task;
  task["wav_path"] = wav_path;
  task["raw"] = object;
  task["line_no"] = py::int_(line_no);
  scan->tasks.append(task);
  ++counters.accepted;
}

py::list collect_tasks_from_jsonl(py::object jsonl_path, py::object multi_spks_rate_threshold) {
  if (!py::bool_(leadvoice_attr("os").attr("path").attr("isfile")(jsonl_path))) {
    throw FileNotFoundError("jsonl file not found: " + fs_encode(jsonl_path));
  }
  Scan scan{multi_spks_rate_threshold, {}, py::list()};
  const py::object file = py::module_::import("builtins").attr("open")(
      jsonl_path, "r", py::arg("encoding") = "utf-8", py::arg("errors") = "surrogateescape");
  try {
    int64_t line_no = 0;
    for (const py::handle line : file) scan_line(py::reinterpret_borrow<py::object>(line), ++line_no, &scan);
  } catch (...) {
    file.attr("close")();
    throw;
  }
  file.attr("close")();
  py_print(task_list_summary(scan.counters, py_str(multi_spks_rate_threshold)));
  return scan.tasks;
}

}  // namespace

void define_task_list(py::module_& m) {
  m.def("collect_tasks_from_jsonl", &collect_tasks_from_jsonl, py::arg("jsonl_path"),
        py::arg("multi_spks_rate_threshold") = 0.5, kDoc);
}

}  // namespace speech
