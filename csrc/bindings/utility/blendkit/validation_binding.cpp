// ValidationDataset_1mix ... ValidationDataset_4mix: map-style datasets over
// pre-mixed validation sets. Construction reads only the metadata table;
// every item is read afresh from its N + 1 files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <torch/extension.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bindings/utility/blendkit/corpus_parts.h"
#include "bindings/utility/blendkit/corpus_text_edge.h"
#include "bindings/utility/blendkit/registration.h"
#include "common/errors.h"
#include "common/file_kind.h"
#include "common/os_path.h"
#include "corpus/validation_entry.h"
#include "corpus/validation_item.h"
#include "corpus/validation_layout.h"
#include "pyutil/fs_path.h"
#include "pyutil/plain_class.h"
#include "pyutil/py_print.h"
#include "pyutil/raise_error.h"

namespace py = pybind11;

namespace speech::corpus {
namespace {

py::object read_table(const py::object& table_path) {
  const py::object table = blendkit_attr("pd").attr("read_csv")(table_path);
  const size_t columns = py::len(table.attr("columns"));
  if (columns <= static_cast<size_t>(kValidationNameColumn)) {
    pyutil::raise_error(PyExc_IndexError, "metadata table " + pyutil::py_str(table_path) + " has " +
                                              std::to_string(columns) +
                                              " column(s); the file names are read from its second column");
  }
  return table;
}

void refuse_unsafe(const py::handle& entry, size_t row, const py::object& table_path) {
  const EntryProblem problem = entry_problem(order_key(entry), kValidationFolderDepth);
  if (problem == EntryProblem::kNone) return;
  throw common::ValueError("unsafe entry in row " + std::to_string(row) + " of " + pyutil::py_str(table_path) + ": " +
                           pyutil::py_str(py::repr(entry)) + " " + entry_problem_reason(problem));
}

// os.path.join(root, folder, entry) for text; anything else goes through the
// interpreter's own join, which raises its type error.
py::object join_entry(const py::object& root, const std::string& folder, const py::handle& entry) {
  if (!PyUnicode_Check(root.ptr()) || !PyUnicode_Check(entry.ptr())) {
    return blendkit_attr("os").attr("path").attr("join")(root, folder, entry);
  }
  return text_from_order_key(common::path_join(common::path_join(order_key(root), folder), order_key(entry)));
}

void validation_init(int talkers, py::object self, py::object args) {
  const py::object root = args.attr("validation_path");
  self.attr("data_path") = root;
  const py::object table_path = root + py::str(validation_table(talkers));
  const py::object table = read_table(table_path);
  self.attr("metadata") = table;
  const py::list entries =
      table.attr("iloc")[py::make_tuple(py::slice(py::none(), py::none(), py::none()), kValidationNameColumn)]
          .attr("tolist")();
  self.attr("wav_metadata") = entries;
  const std::vector<ValidationFiles> files = validation_files(talkers);
  std::vector<py::list> lists;
  for (const ValidationFiles& f : files) {
    lists.emplace_back();
    self.attr(f.field.c_str()) = lists.back();
  }
  for (size_t row = 0; row < entries.size(); ++row) {
    const py::handle entry = entries[row];
    if (PyUnicode_Check(entry.ptr())) refuse_unsafe(entry, row, table_path);
    for (size_t k = 0; k < files.size(); ++k) lists[k].append(join_entry(root, files[k].folder, entry));
  }
}

size_t validation_len(py::object self) { return py::len(self.attr("mixture_path")); }

py::tuple read_wav_safe(py::object self, py::object path) {
  (void)self;
  const std::optional<std::string> bytes = pyutil::try_fs_encode(path_text(path, "path"));
  if (!bytes || !common::path_exists(*bytes)) {
    throw common::FileNotFoundError("Audio file not found: " + pyutil::py_str(path));
  }
  const ChannelSignal signal = read_first_channel(*bytes);
  py::array_t<double> samples(static_cast<py::ssize_t>(signal.samples.size()));
  std::copy(signal.samples.begin(), signal.samples.end(), samples.mutable_data());
  return py::make_tuple(samples, signal.sample_rate);
}

using Signal = py::array_t<double, py::array::forcecast>;

Signal one_dimensional(const py::handle& signal) {
  Signal samples = py::reinterpret_borrow<py::object>(signal);
  if (samples.ndim() != 1) throw common::ValueError("a validation signal must be one-dimensional");
  return samples;
}

// Rows of a float32 [rows, length] tensor, one per signal.
at::Tensor float_rows(const std::vector<Signal>& signals, size_t first, size_t count, int64_t length) {
  at::Tensor rows = at::empty({static_cast<int64_t>(count), length}, at::kFloat);
  float* out = rows.data_ptr<float>();
  for (size_t k = 0; k < count; ++k) {
    const auto view = signals[first + k].unchecked<1>();
    for (int64_t i = 0; i < length; ++i) *out++ = static_cast<float>(view(i));
  }
  return rows;
}

py::dict validation_getitem(int talkers, py::object self, py::object index) {
  // Every file is read, in the order mixture, s1, s2, ..., before any tensor
  // is made; each list is subscripted just before its own read.
  std::vector<Signal> signals;
  const py::object reader = self.attr("_read_wav_safe");
  for (const ValidationFiles& files : validation_files(talkers)) {
    const py::object path = self.attr(files.field.c_str())[index];
    signals.push_back(one_dimensional(py::tuple(reader(path))[0]));
  }
  std::vector<int64_t> source_lengths;
  for (size_t k = 1; k < signals.size(); ++k) source_lengths.push_back(signals[k].shape(0));
  const int64_t source_length = common_length(source_lengths);
  py::dict item;
  item["mixture"] = float_rows(signals, 0, 1, signals[0].shape(0));
  item["sources"] = float_rows(signals, 1, signals.size() - 1, source_length);
  return item;
}

void define_validation_set(py::module_& m, int talkers, const py::object& dataset_base) {
  const std::string name = "ValidationDataset_" + validation_set(talkers);
  pyutil::PlainClass cls(m, name.c_str(), nullptr, py::make_tuple(dataset_base));
  cls.def("__init__", [talkers](py::object self, py::object args) { validation_init(talkers, self, args); },
          py::arg("args"));
  cls.def("__len__", &validation_len);
  cls.def("_read_wav_safe", &read_wav_safe, py::arg("path"));
  cls.def("__getitem__", [talkers](py::object self, py::object index) { return validation_getitem(talkers, self, index); },
          py::arg("index"));
}

}  // namespace
}  // namespace speech::corpus

namespace speech {

void bind_validation_sets(py::module_& m) {
  for (int talkers = 1; talkers <= 4; ++talkers) {
    corpus::define_validation_set(m, talkers, m.attr("data").attr("Dataset"));
  }
}

}  // namespace speech
