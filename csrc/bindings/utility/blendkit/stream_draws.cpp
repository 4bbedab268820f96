#include "bindings/utility/blendkit/stream_draws.h"

#include "bindings/utility/blendkit/mixture_parts.h"
#include "common/errors.h"
#include "pyutil/float_value.h"

namespace py = pybind11;

namespace speech::mixture {

const py::object& DatasetMembers::speakers() {
  if (!speakers_) speakers_ = new_list(dataset_.attr("speaker_ids"));
  return speakers_;
}

const py::object& DatasetMembers::rooms() {
  if (!rooms_) rooms_ = dataset_.attr("rir_rooms");
  return rooms_;
}

int64_t DatasetMembers::speaker_count() { return static_cast<int64_t>(py::len(speakers())); }

py::object DatasetMembers::sequence(const mixsim::Members& members) {
  switch (members.population) {
    case mixsim::Population::kSpeakers:
      return speakers();
    case mixsim::Population::kSpeakerFiles:
      return dataset_.attr("speakers")[speakers()[py::int_(members.owner)]];
    case mixsim::Population::kRooms:
      return rooms();
    case mixsim::Population::kRoomFiles:
      return rooms()[py::int_(members.owner)][py::int_(2)];
    case mixsim::Population::kNoiseFiles:
      return dataset_.attr("noise_files");
    case mixsim::Population::kSpeakerCounts:
      return py::list(dataset_.attr("speaker_count_probs").attr("keys")());
  }
  throw common::ValueError("unknown population");
}

py::object DatasetMembers::weights() { return py::list(dataset_.attr("speaker_count_probs").attr("values")()); }

double StreamDraws::random() { return pyutil::float_value(stream_.attr("random")()); }

int64_t StreamDraws::randint(int64_t low, int64_t high) {
  return py::cast<int64_t>(stream_.attr("randint")(low, high));
}

int64_t StreamDraws::randrange(int64_t stop) { return py::cast<int64_t>(stream_.attr("randrange")(stop)); }

double StreamDraws::uniform(double low, double high) { return pyutil::float_value(stream_.attr("uniform")(low, high)); }

int64_t StreamDraws::choice(const mixsim::Members& from) {
  const py::object population = members_.sequence(from);
  return index_of(population, stream_.attr("choice")(population));
}

std::vector<int64_t> StreamDraws::sample(const mixsim::Members& from, int64_t k) {
  const py::object population = members_.sequence(from);
  std::vector<int64_t> indices;
  for (const py::handle member : stream_.attr("sample")(population, k)) indices.push_back(index_of(population, member));
  return indices;
}

int64_t StreamDraws::weighted_choice(const mixsim::Members& from) {
  const py::object population = members_.sequence(from);
  const py::object drawn = stream_.attr("choices")(py::arg("population") = population,
                                                   py::arg("weights") = members_.weights(), py::arg("k") = 1);
  return index_of(population, drawn[py::int_(0)]);
}

int64_t index_of(const py::handle& sequence, const py::handle& member) {
  PyObject* fast = PySequence_Fast(sequence.ptr(), "a population must be a sequence");
  if (fast == nullptr) throw py::error_already_set();
  const py::object items = py::reinterpret_steal<py::object>(fast);
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast);
  PyObject** entries = PySequence_Fast_ITEMS(fast);
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (entries[i] == member.ptr()) return static_cast<int64_t>(i);
  }
  for (Py_ssize_t i = 0; i < n; ++i) {
    const int equal = PyObject_RichCompareBool(entries[i], member.ptr(), Py_EQ);
    if (equal < 0) throw py::error_already_set();
    if (equal == 1) return static_cast<int64_t>(i);
  }
  throw common::ValueError("the random stream drew " + py::repr(member).cast<std::string>() +
                   ", which is no member of the population it was given");
}

}  // namespace speech::mixture
