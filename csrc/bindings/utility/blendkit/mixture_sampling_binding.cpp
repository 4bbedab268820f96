// The dataset's draws of speakers and utterances, of a room and its impulse
// responses, and of a noise segment. Each call on a stream, and its
// arguments, is part of what makes a seeded stream reproducible.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "common/errors.h"
#include "mixsim/segment_ops.h"
#include "mixsim/stream_plan.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

py::list sample_speakers_and_utts(py::object self, py::object rng, int64_t num_spk) {
  py::list sampled;
  if (num_spk <= 0) return sampled;
  const py::object speaker_ids = self.attr("speaker_ids");
  if (py::len(speaker_ids) == 0) throw ValueError("No speakers to sample from.");
  const py::object speakers = self.attr("speakers");
  py::set sampled_spks;
  int64_t tries = 0;
  const int64_t tries_limit = mixsim::speaker_tries_limit(num_spk);
  const py::list other_speakers = new_list(speaker_ids);
  const py::object choice = rng.attr("choice");
  const auto accepted = [&] { return static_cast<int64_t>(py::len(sampled)); };
  while (accepted() < num_spk && tries < tries_limit) {
    ++tries;
    const py::object cand_spk = choice(other_speakers);
    if (sampled_spks.contains(cand_spk) && py::len(sampled_spks) < py::len(other_speakers)) continue;
    const py::object cand_file = choice(speakers[cand_spk]);
    sampled.append(py::make_tuple(cand_spk, cand_file));
    sampled_spks.add(cand_spk);
  }
  while (accepted() < num_spk) {
    const py::object cand_spk = choice(other_speakers);
    const py::object cand_file = choice(speakers[cand_spk]);
    sampled.append(py::make_tuple(cand_spk, cand_file));
  }
  return sampled;
}

py::object sample_rir_room_and_files(py::object self, py::object rng, int64_t num, py::object same_for_all) {
  const py::object rooms = self.attr("rir_rooms");
  if (!truthy(rooms)) return py::none();
  const py::object files = rng.attr("choice")(rooms)[py::int_(2)];
  if (!truthy(files)) return py::none();
  py::list chosen;
  if (num <= 0) return chosen;
  if (truthy(same_for_all)) {
    const py::object path = rng.attr("choice")(files);
    for (int64_t i = 0; i < num; ++i) chosen.append(path);
    return chosen;
  }
  if (static_cast<int64_t>(py::len(files)) >= num) return rng.attr("sample")(files, num);
  // Separate choice calls, not one choices(k=num): the two consume the
  // stream differently.
  for (int64_t i = 0; i < num; ++i) chosen.append(rng.attr("choice")(files));
  return chosen;
}

py::object sample_noise_segment(py::object self, py::object noise_full, py::object rng, double class_duration_sec) {
  const int64_t L = py::cast<int64_t>(self.attr("segment_samples"));
  if (noise_full.is_none()) return float_zeros(L);
  const int64_t total = size_of(noise_full);
  if (total == 0) return float_zeros(L);
  const int64_t rate = py::cast<int64_t>(self.attr("target_sr"));
  const mixsim::NoiseRegions regions = mixsim::noise_regions(total, class_duration_sec, rate, L);
  if (regions.region <= 0) {
    throw ValueError("a noise segment needs a positive segment length, got segment_samples=" + std::to_string(L));
  }
  const int64_t chosen = py::cast<int64_t>(rng.attr("randrange")(regions.count));
  const mixsim::RegionBounds bounds = mixsim::region_bounds(regions, chosen, total);
  // Only the chosen region is converted: the whole noise may be long, and it
  // is shared through the caller's cache.
  const FloatArray region = float32_view(noise_full[py::slice(bounds.begin, bounds.end, 1)]);
  const int64_t n = region.size();
  FloatArray out(static_cast<py::ssize_t>(L));
  if (n >= L) {
    const int64_t max_offset = n - L;
    const int64_t start = max_offset > 0 ? py::cast<int64_t>(rng.attr("randint")(0, max_offset)) : 0;
    mixsim::crop_or_pad(region.data(), n, start, L, out.mutable_data());
  } else {
    mixsim::tile_into(region.data(), n, L, out.mutable_data());
  }
  return std::move(out);
}

}  // namespace

void define_sampling(PlainClass& cls) {
  cls.def("_sample_speakers_and_utts", &sample_speakers_and_utts, py::arg("rng"), py::arg("num_spk"));
  cls.def("_sample_rir_room_and_files", &sample_rir_room_and_files, py::arg("rng"), py::arg("num") = 1,
          py::arg("same_for_all") = false);
  cls.def("_sample_noise_segment", &sample_noise_segment, py::arg("noise_full"), py::arg("rng"),
          py::arg("class_duration_sec") = 10.0);
}

}  // namespace speech::mixture
