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
    if (!pyutil::is_ordinary(e)) throw;
    return at::zeros({1}, at::kFloat);
  }
}

int64_t speaker_count(const py::dict& record) {
  return py::cast<int64_t>(py::int_(record.attr("get")("num_spk", 1)));
}

// The record's first `slots` sources and its mixture.
mixsim::RecordSignals signals_of(const py::dict& record, int64_t slots) {
  mixsim::RecordSignals signals;
  const py::object sources = record.attr("get")("sources");
  if (!sources.is_none()) {
    const int64_t n = std::min<int64_t>(slots, static_cast<int64_t>(py::len(sources)));
    for (int64_t t = 0; t < n; ++t) signals.sources.push_back(signal_tensor(sources[py::int_(t)]));
  }
  signals.mixture = signal_tensor(record["mixture"]);
  return signals;
}

py::list record_values(const std::vector<py::dict>& records, const char* key, const py::object& fallback) {
  py::list values;
  for (const py::dict& record : records) values.append(record.attr("get")(key, fallback));
  return values;
}

}  // namespace

py::dict collate_batch(const std::vector<py::dict>& records) {
  std::vector<int64_t> counts;
  for (const py::dict& record : records) counts.push_back(speaker_count(record));
  const int64_t slots = mixsim::slot_count(counts);
  std::vector<mixsim::RecordSignals> signals;
  for (const py::dict& record : records) signals.push_back(signals_of(record, slots));
  const mixsim::CollatedSignals collated = mixsim::collate_signals(signals, slots);

  py::dict batch;
  batch["sources"] = wrap(collated.sources);
  batch["sources_len"] = wrap(collated.sources_len);
  batch["mixture"] = wrap(collated.mixture);
  batch["mixture_len"] = wrap(collated.mixture_len);
  batch["num_spk"] = record_values(records, "num_spk", py::int_(1));
  batch["sr"] = records.front()["sr"];
  batch["source_ids"] = record_values(records, "source_ids", py::none());
  batch["paths"] = record_values(records, "paths", py::none());
  return batch;
}

}  // namespace speech::mixture
