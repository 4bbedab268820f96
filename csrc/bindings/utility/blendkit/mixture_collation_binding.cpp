// Collation of a batch's mixture sample records into one separation batch
// of zero-padded tensors.
#include <ATen/ATen.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <torch/csrc/autograd/python_variable.h>

#include <algorithm>
#include <vector>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "mixsim/batch_collation.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

py::object wrap(const at::Tensor& tensor) { return py::reinterpret_steal<py::object>(THPVariable_Wrap(tensor)); }

at::Tensor unwrap(const py::handle& obj) { return THPVariable_Unpack(obj.ptr()); }

// A NumPy array as a float tensor, a tensor as it is, anything else through
// torch.tensor, or a single zero when torch refuses it.
at::Tensor signal_tensor(const py::handle& value) {
  if (THPVariable_Check(value.ptr())) return unwrap(value);
  const py::object torch = blendkit_attr("torch");
  if (py::isinstance<py::array>(value)) return unwrap(torch.attr("from_numpy")(value).attr("float")());
  try {
    return unwrap(torch.attr("tensor")(value, py::arg("dtype") = torch.attr("float32")));
  } catch (py::error_already_set& e) {
    if (!is_ordinary_exception(e)) throw;
    return at::zeros({1}, at::kFloat);
  }
}

int64_t slot_count(const std::vector<py::dict>& records) {
  int64_t slots = 0;
  for (const py::dict& record : records) {
    const py::object n = record.attr("get")("num_spk", 1);
    slots = std::max(slots, py::cast<int64_t>(py::int_(n)));
  }
  return slots;
}

// Slot t of every record: its source t (flattened), or one zero sample for
// a record that has no such source.
std::vector<at::Tensor> slot_rows(const std::vector<py::dict>& records, int64_t slot) {
  std::vector<at::Tensor> rows;
  for (const py::dict& record : records) {
    const py::object sources = record.attr("get")("sources");
    if (sources.is_none() || slot >= static_cast<int64_t>(py::len(sources))) {
      rows.push_back(at::zeros({1}, at::kFloat));
      continue;
    }
    at::Tensor row = signal_tensor(sources[py::int_(slot)]);
    if (row.dim() > 1) row = row.reshape({-1});
    rows.push_back(row);
  }
  return rows;
}

py::list record_values(const std::vector<py::dict>& records, const char* key, const py::object& fallback) {
  py::list values;
  for (const py::dict& record : records) values.append(record.attr("get")(key, fallback));
  return values;
}

}  // namespace

py::dict collate_batch(const std::vector<py::dict>& records) {
  const int64_t slots = slot_count(records);
  std::vector<std::vector<at::Tensor>> slot_signals;
  std::vector<at::Tensor> slot_lengths;
  for (int64_t t = 0; t < slots; ++t) {
    slot_signals.push_back(slot_rows(records, t));
    slot_lengths.push_back(mixsim::row_lengths(slot_signals.back()));
  }
  std::vector<at::Tensor> mixtures;
  for (const py::dict& record : records) mixtures.push_back(signal_tensor(record["mixture"]));
  at::Tensor mixture = mixsim::pad_rows(mixtures);
  if (mixture.dim() == 2) mixture = mixture.unsqueeze(1);

  py::dict batch;
  batch["sources"] = wrap(mixsim::pad_and_stack_slots(slot_signals));
  batch["sources_len"] = wrap(mixsim::stack_slots(slot_lengths));
  batch["mixture"] = wrap(mixture);
  batch["mixture_len"] = wrap(mixsim::row_lengths(mixtures));
  batch["num_spk"] = record_values(records, "num_spk", py::int_(1));
  batch["sr"] = records.front()["sr"];
  batch["source_ids"] = record_values(records, "source_ids", py::none());
  batch["paths"] = record_values(records, "paths", py::none());
  return batch;
}

}  // namespace speech::mixture
