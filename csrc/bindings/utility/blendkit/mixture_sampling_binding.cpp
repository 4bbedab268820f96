// The dataset's draws of speakers and utterances, of a room and its impulse
// responses, and of a noise segment, on whatever random stream the caller
// passes: the core draws, and the members drawn are the dataset's own.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "bindings/utility/blendkit/stream_draws.h"
#include "mixsim/noise_sampling.h"
#include "mixsim/room_sampling.h"
#include "mixsim/speaker_sampling.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

py::list sample_speakers_and_utts(py::object self, py::object rng, int64_t num_spk) {
  DatasetMembers members(self);
  StreamDraws draws(std::move(rng), members);
  py::list sampled;
  for (const mixsim::SpeakerPick& pick :
       mixsim::sample_speakers(draws, num_spk, [&members] { return members.speaker_count(); })) {
    const py::object speaker = members.sequence({mixsim::Population::kSpeakers, 0})[py::int_(pick.speaker)];
    const py::object files = members.sequence({mixsim::Population::kSpeakerFiles, pick.speaker});
    sampled.append(py::make_tuple(speaker, files[py::int_(pick.file)]));
  }
  return sampled;
}

py::object sample_rir_room_and_files(py::object self, py::object rng, int64_t num, py::object same_for_all) {
  DatasetMembers members(self);
  StreamDraws draws(std::move(rng), members);
  const int64_t rooms = static_cast<int64_t>(py::len(members.sequence({mixsim::Population::kRooms, 0})));
  const auto files_in = [&members](int64_t room) {
    return static_cast<int64_t>(py::len(members.sequence({mixsim::Population::kRoomFiles, room})));
  };
  const std::optional<mixsim::RoomFiles> drawn =
      mixsim::sample_room_files(draws, rooms, files_in, num, truthy(same_for_all));
  if (!drawn) return py::none();
  const py::object files = members.sequence({mixsim::Population::kRoomFiles, drawn->room});
  py::list chosen;
  for (const int64_t file : drawn->files) chosen.append(files[py::int_(file)]);
  return std::move(chosen);
}

py::object sample_noise_segment(py::object self, py::object noise_full, py::object rng, double class_duration_sec) {
  const int64_t L = py::cast<int64_t>(self.attr("segment_samples"));
  if (noise_full.is_none()) return float_zeros(L);
  const int64_t total = size_of(noise_full);
  const int64_t rate = py::cast<int64_t>(self.attr("target_sr"));
  DatasetMembers members(self);
  StreamDraws draws(std::move(rng), members);
  const std::optional<mixsim::RegionBounds> region =
      mixsim::draw_noise_region(draws, total, class_duration_sec, rate, L);
  if (!region) return float_zeros(L);
  // Only the chosen region is converted: the whole noise may be long, and it
  // is shared through the caller's cache.
  const FloatArray samples = float32_view(noise_full[py::slice(region->begin, region->end, 1)]);
  FloatArray out(static_cast<py::ssize_t>(L));
  mixsim::cut_noise_segment(draws, array_samples(samples), L, out.mutable_data());
  return std::move(out);
}

}  // namespace

void define_sampling(pyutil::PlainClass& cls) {
  cls.def("_sample_speakers_and_utts", &sample_speakers_and_utts, py::arg("rng"), py::arg("num_spk"));
  cls.def("_sample_rir_room_and_files", &sample_rir_room_and_files, py::arg("rng"), py::arg("num") = 1,
          py::arg("same_for_all") = false);
  cls.def("_sample_noise_segment", &sample_noise_segment, py::arg("noise_full"), py::arg("rng"),
          py::arg("class_duration_sec") = 10.0);
}

}  // namespace speech::mixture
