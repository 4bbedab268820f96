// IterableSeparationDataset: the class, its configuration and sharding.
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "bindings/utility/blendkit/package_originals.h"
#include "bindings/utility/blendkit/registration.h"
#include "common/errors.h"
#include "mixsim/dataset_arguments.h"
#include "mixsim/stream_plan.h"
#include "pyutil/plain_class.h"
#include "pyutil/raise_error.h"

namespace py = pybind11;

namespace speech {
namespace mixture {
namespace {

const char* const kClassDoc =
    "\n    IterableDataset，实现直接产出 batch（已经 pad 好的 batch dict），\n"
    "    以便在 DataLoader 中使用 batch_size=None 且 num_workers>0 时，每个 worker\n"
    "    产出的是完整的 batch（避免 DataLoader 在多 worker 下交错采样导致\n"
    "    batch 内不一致的问题）。\n    ";

// A single path is a sequence of characters: indexing it would take its
// first two letters as the two corpus roots.
void check_speech_root(const py::handle& speech_root) {
  const py::object path_like = py::module_::import("os").attr("PathLike");
  if (py::isinstance<py::str>(speech_root) || py::isinstance<py::bytes>(speech_root) ||
      py::isinstance(speech_root, path_like)) {
    throw common::ValueError("speech_root must be a sequence of two corpus roots (the libri root, then the wsj0 root), got "
                     "the single path " + py::repr(speech_root).cast<std::string>());
  }
}

py::object speakers_from_corpora(const py::handle& speech_root) {
  check_speech_root(speech_root);
  py::dict mappings;
  int root = 0;
  for (const char* label : mixsim::kCorpusLabels) {
    mappings[label] = blendkit_attr("find_audio_files_by_speaker")(speech_root[py::int_(root++)]);
  }
  return blendkit_attr("combine_speaker_mappings")(mappings);
}

py::dict usable_speakers(const py::handle& speakers_map) {
  py::dict speakers;
  for (const py::handle item : speakers_map.attr("items")()) {
    const auto [spk, files] = pyutil::unpack_pair(item);
    if (mixsim::keeps_speaker(static_cast<int64_t>(py::len(files)))) speakers[spk] = files;
  }
  return speakers;
}

py::list rooms_with_files(const py::handle& rir_map) {
  py::list rooms;
  for (const py::handle type_item : rir_map.attr("items")()) {
    const auto [room_type, type_rooms] = pyutil::unpack_pair(type_item);
    for (const py::handle room_item : type_rooms.attr("items")()) {
      const auto [room_name, files] = pyutil::unpack_pair(room_item);
      if (truthy(files)) rooms.append(py::make_tuple(room_type, room_name, files));
    }
  }
  return rooms;
}

bool is_snr_reference(const py::object& reference) {
  for (const char* known : mixsim::kSnrReferences) {
    if (reference.equal(py::str(known))) return true;
  }
  return false;
}

bool assertions_enabled() {
  return py::cast<int64_t>(py::module_::import("sys").attr("flags").attr("optimize")) == 0;
}

py::object as_int(const py::handle& value) { return py::int_(py::reinterpret_borrow<py::object>(value)); }
py::object as_float(const py::handle& value) { return py::float_(py::reinterpret_borrow<py::object>(value)); }

std::string shown(const py::handle& value) { return py::repr(value).cast<std::string>(); }

// An argument stored as an int, as the core's checks take it; one beyond
// any sensible count is refused here rather than at the first batch.
int64_t stored_int(const py::handle& value, const char* name) {
  const int64_t result = PyLong_AsLongLong(value.ptr());
  if (result == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    throw common::ValueError(std::string(name) + " is out of range, got " + shown(value));
  }
  return result;
}

bool is_negative(const py::handle& value) { return value < py::int_(0); }

// choices draws the batch's speaker count from these weights at every
// batch; a weight it cannot use would fail there, or pass unnoticed.
void check_speaker_count_probs(const py::handle& probs) {
  if (!py::hasattr(probs, "keys") || !py::hasattr(probs, "values")) {
    throw common::ValueError("speaker_count_probs must map speaker counts to weights, got " + shown(probs));
  }
  for (const py::handle key : probs.attr("keys")()) {
    try {
      as_int(key);
    } catch (py::error_already_set& e) {
      if (!pyutil::is_ordinary(e)) throw;
      throw common::ValueError("speaker_count_probs keys must be speaker counts, got " + shown(key));
    }
  }
  std::vector<double> weights;
  for (const py::handle weight : probs.attr("values")()) {
    try {
      weights.push_back(py::cast<double>(as_float(weight)));
    } catch (py::error_already_set& e) {
      if (!pyutil::is_ordinary(e)) throw;
      throw common::ValueError("speaker_count_probs weights must be numbers, got " + shown(weight));
    }
  }
  mixsim::check_speaker_count_weights(weights);
}

void dataset_init(const py::object& cls, py::object self, py::object speech_root, py::object speakers_map,
                  py::object rir_map, py::object noise_files, py::object target_sr, py::object snr_range,
                  py::object sir_range, py::object overlap_range, py::object snr_reference,
                  py::object apply_rir_prob, py::object apply_noise_prob, py::object speaker_count_probs,
                  py::object segment_seconds, py::object samples_per_epoch, py::object seed, py::object rank,
                  py::object world_size) {
  py::module_::import("builtins").attr("super")(cls, self).attr("__init__")();
  if (speakers_map.is_none()) {
    if (speech_root.is_none()) throw common::ValueError("Either speakers_map or speech_root must be provided");
    speakers_map = speakers_from_corpora(speech_root);
  }
  const py::dict speakers = usable_speakers(speakers_map);
  if (speakers.empty()) throw common::ValueError("No speakers with >=2 utterances found.");
  self.attr("speakers") = speakers;
  self.attr("speaker_ids") = new_list(speakers);
  self.attr("target_sr") = as_int(target_sr);
  const int64_t rate = stored_int(self.attr("target_sr"), "target_sr");
  mixsim::check_target_sr(rate);
  self.attr("rir_map") = truthy(rir_map) ? rir_map : py::dict();
  self.attr("rir_rooms") = rooms_with_files(self.attr("rir_map"));
  self.attr("noise_files") = truthy(noise_files) ? new_list(noise_files) : py::list();
  self.attr("snr_range") = snr_range;
  self.attr("sir_range") = sir_range;
  self.attr("overlap_range") = overlap_range;
  self.attr("snr_reference") = snr_reference;
  if (assertions_enabled() && !is_snr_reference(self.attr("snr_reference"))) {
    // As a failed assert statement raises it: with no arguments at all.
    pyutil::raise_bare(PyExc_AssertionError);
  }
  self.attr("apply_rir_prob") = as_float(apply_rir_prob);
  self.attr("apply_noise_prob") = as_float(apply_noise_prob);
  check_speaker_count_probs(speaker_count_probs);
  self.attr("speaker_count_probs") = speaker_count_probs;
  self.attr("samples_per_epoch") = samples_per_epoch.is_none() ? py::none() : as_int(samples_per_epoch);
  self.attr("segment_seconds") = as_float(segment_seconds);
  self.attr("segment_samples") =
      py::int_(mixsim::segment_samples_for(py::cast<double>(self.attr("segment_seconds")), rate));
  self.attr("seed") = as_int(seed);
  mixsim::check_not_negative(is_negative(self.attr("seed")), "seed", shown(self.attr("seed")));
  self.attr("epoch") = py::int_(0);
  self.attr("rank") = as_int(rank);
  self.attr("world_size") = as_int(world_size);
  mixsim::check_shard(stored_int(self.attr("rank"), "rank"), stored_int(self.attr("world_size"), "world_size"));
  self.attr("_rir_cache") = py::dict();
  self.attr("_noise_cache") = py::dict();
  self.attr("batch_size") = py::none();
}

void set_epoch(py::object self, py::object epoch) {
  const py::object value = as_int(epoch);
  mixsim::check_not_negative(is_negative(value), "epoch", shown(value));
  self.attr("epoch") = value;
}

py::tuple get_shard_info(py::object self) {
  const py::object worker_info = blendkit_attr("torch").attr("utils").attr("data").attr("get_worker_info")();
  int64_t worker_id = 0;
  int64_t num_workers = 1;
  if (!worker_info.is_none()) {
    worker_id = py::cast<int64_t>(as_int(worker_info.attr("id")));
    num_workers = py::cast<int64_t>(as_int(worker_info.attr("num_workers")));
  }
  const int64_t rank = py::cast<int64_t>(as_int(py::getattr(self, "rank", py::int_(0))));
  const int64_t world_size = py::cast<int64_t>(as_int(py::getattr(self, "world_size", py::int_(1))));
  const mixsim::ShardInfo shard = mixsim::shard_info(rank, world_size, worker_id, num_workers);
  return py::make_tuple(shard.global_worker_id, shard.global_worker_count);
}

py::dict default_speaker_count_probs() {
  py::dict probs;
  probs[py::int_(1)] = 0.1;
  probs[py::int_(2)] = 0.2;
  probs[py::int_(3)] = 0.3;
  probs[py::int_(4)] = 0.4;
  return probs;
}

}  // namespace
}  // namespace mixture

void bind_mixture_dataset(py::module_& m) {
  using namespace mixture;
  remember_original_readers(m);
  pyutil::PlainClass cls(m, "IterableSeparationDataset", kClassDoc, py::make_tuple(m.attr("IterableDataset")));
  const py::object type = cls.type_object();
  cls.def(
      "__init__",
      [type](py::object self, py::object speech_root, py::object speakers_map, py::object rir_map,
             py::object noise_files, py::object target_sr, py::object snr_range, py::object sir_range,
             py::object overlap_range, py::object snr_reference, py::object apply_rir_prob,
             py::object apply_noise_prob, py::object speaker_count_probs, py::object segment_seconds,
             py::object samples_per_epoch, py::object seed, py::object rank, py::object world_size) {
        dataset_init(type, self, speech_root, speakers_map, rir_map, noise_files, target_sr, snr_range, sir_range,
                     overlap_range, snr_reference, apply_rir_prob, apply_noise_prob, speaker_count_probs,
                     segment_seconds, samples_per_epoch, seed, rank, world_size);
      },
      py::arg("speech_root") = py::none(), py::arg("speakers_map") = py::none(), py::arg("rir_map") = py::none(),
      py::arg("noise_files") = py::none(), py::arg("target_sr") = 16000,
      py::arg("snr_range") = py::make_tuple(0.0, 20.0), py::arg("sir_range") = py::make_tuple(-5.0, 5.0),
      py::arg("overlap_range") = py::make_tuple(0.3, 1.0), py::arg("snr_reference") = "speech",
      py::arg("apply_rir_prob") = 0.8, py::arg("apply_noise_prob") = 0.8,
      // One dictionary, made with the class and shared by every dataset
      // built without the option.
      py::arg("speaker_count_probs") = default_speaker_count_probs(), py::arg("segment_seconds") = 3.0,
      py::arg("samples_per_epoch") = py::none(), py::arg("seed") = 0, py::arg("rank") = 0,
      py::arg("world_size") = 1);
  cls.def("set_epoch", &set_epoch, py::arg("epoch"));
  define_sampling(cls);
  define_impulse_responses(cls, m);
  cls.def("_get_shard_info", &get_shard_info);
  define_batch_stream(cls, m);
}

}  // namespace speech
