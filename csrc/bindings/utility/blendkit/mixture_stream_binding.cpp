// The batch stream: an iterator that finds its shard and seeds at its first
// next, then builds, collates and yields one separation batch per step.
#include <pybind11/pybind11.h>

#include <optional>
#include <vector>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "mixsim/stream_plan.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

constexpr int64_t kEpochSeedStep = 1000000000;
constexpr int64_t kBatchSeedStep = 1000000;

std::optional<int64_t> optional_int(const py::handle& value) {
  if (value.is_none()) return std::nullopt;
  return py::cast<int64_t>(py::int_(py::reinterpret_borrow<py::object>(value)));
}

class BatchStream {
 public:
  explicit BatchStream(py::object dataset) : dataset_(std::move(dataset)) {}

  py::dict next() {
    if (finished_) throw py::stop_iteration();
    // Whatever leaves this call other than a batch ends the stream, as it
    // ends a generator.
    finished_ = true;
    if (!started_) start();
    std::optional<py::dict> batch = next_batch();
    if (!batch) throw py::stop_iteration();
    finished_ = false;
    return *batch;
  }

 private:
  void start() {
    started_ = true;
    const py::tuple shard = dataset_.attr("_get_shard_info")();
    const py::object worker_id = shard[0];
    const int64_t worker_count = py::cast<int64_t>(shard[1]);
    // The seeds are the iteration's own: a second iteration of the same
    // dataset rewrites the stored field but cannot move this one's batches.
    seed_base_ = py::int_(dataset_.attr("seed")) + py::int_(dataset_.attr("epoch")) * py::int_(kEpochSeedStep) +
                 py::int_(worker_id);
    dataset_.attr("_batch_seed_base") = seed_base_;
    rng_ = new_stream(seed_base_);
    const mixsim::ShardInfo info{py::cast<int64_t>(worker_id), worker_count};
    const std::optional<int64_t> samples =
        mixsim::samples_for_worker(optional_int(dataset_.attr("samples_per_epoch")), info);
    batch_ = mixsim::batch_samples(optional_int(dataset_.attr("batch_size")));
    batches_ = mixsim::batches_for_worker(samples, batch_);
  }

  static py::object new_stream(const py::object& seed) { return blendkit_attr("random").attr("Random")(seed); }

  bool switch_on(const py::object& batch_rng, const char* population, const char* probability) const {
    if (!truthy(dataset_.attr(population))) return false;
    return batch_rng.attr("random")() <= dataset_.attr(probability);
  }

  int64_t draw_speaker_count(const py::object& batch_rng) const {
    const py::object probs = dataset_.attr("speaker_count_probs");
    const py::list population(probs.attr("keys")());
    const py::list weights(probs.attr("values")());
    const py::object drawn = batch_rng.attr("choices")(py::arg("population") = population,
                                                      py::arg("weights") = weights, py::arg("k") = 1)[py::int_(0)];
    return mixsim::clamp_speaker_count(py::cast<int64_t>(py::int_(drawn)));
  }

  std::optional<py::dict> next_batch() {
    if (batches_ && batch_count_ >= *batches_) return std::nullopt;
    const py::object batch_id = py::int_(batch_count_);
    AttemptStreams streams{rng_, new_stream(seed_base_ + batch_id), py::none()};
    BatchSwitches batch;
    batch.apply_rir = switch_on(streams.batch_rng, "rir_rooms", "apply_rir_prob");
    batch.apply_noise = switch_on(streams.batch_rng, "noise_files", "apply_noise_prob");
    batch.num_speakers = draw_speaker_count(streams.batch_rng);
    std::vector<py::dict> records;
    int64_t tries = 0;
    bool retry = false;
    while (static_cast<int64_t>(records.size()) < batch_) {
      // A retry goes on with the sample stream of the attempt it repeats. An
      // attempt that failed before its placement drew nothing from it, so
      // its retry draws what a fresh stream would; one that failed after it
      // (a source placed in silence, a non-finite noise segment) would
      // otherwise draw the same windows again, and fail again.
      if (!retry) {
        const py::object generated = py::int_(records.size());
        streams.sample_rng = new_stream(seed_base_ + batch_id * py::int_(kBatchSeedStep) + generated);
      }
      if (++tries > mixsim::attempts_per_batch(batch_)) break;
      std::optional<py::dict> record = synthesize_sample(dataset_, streams, batch);
      retry = !record;
      if (record) records.push_back(std::move(*record));
    }
    if (static_cast<int64_t>(records.size()) < batch_) return std::nullopt;
    py::dict collated = collate_batch(records);
    ++batch_count_;
    return collated;
  }

  py::object dataset_;
  bool started_ = false;
  bool finished_ = false;
  py::object seed_base_;
  py::object rng_;
  int64_t batch_ = 1;
  std::optional<int64_t> batches_;
  int64_t batch_count_ = 0;
};

}  // namespace

void define_batch_stream(PlainClass& cls, py::module_& package) {
  // The iterator's type is no name of the package: it is made under the
  // package for its qualified name, then taken off it again. pybind11 keeps
  // the type registered for the life of the process.
  py::class_<BatchStream> stream(package, "_SeparationBatchStream");
  stream.def("__iter__", [](py::object self) { return self; });
  stream.def("__next__", &BatchStream::next);
  stream.inc_ref();
  py::delattr(package, "_SeparationBatchStream");
  cls.def("__iter__", [](py::object self) { return BatchStream(std::move(self)); });
}

}  // namespace speech::mixture
