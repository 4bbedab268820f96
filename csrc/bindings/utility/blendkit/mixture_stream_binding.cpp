// The batch stream: an iterator that finds its shard and seeds at its first
// next, then has the core build one separation batch per step from the
// dataset's fields and synthesis attempts, and collates it.
#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <vector>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "bindings/utility/blendkit/stream_draws.h"
#include "mixsim/batch_stream.h"
#include "mixsim/short_epoch.h"
#include "mixsim/stream_plan.h"
#include "pyutil/float_value.h"
#include "pyutil/int_value.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

class BatchStream final : public mixsim::BatchSteps {
 public:
  explicit BatchStream(py::object dataset) : dataset_(std::move(dataset)), members_(dataset_) {}

  py::dict next() {
    if (finished_) throw py::stop_iteration();
    // Whatever leaves this call other than a batch ends the stream, as it
    // ends a generator.
    finished_ = true;
    if (!worker_) start();
    std::optional<py::dict> batch = next_batch();
    if (!batch) throw py::stop_iteration();
    finished_ = false;
    return *batch;
  }

  mixsim::RandomDraws& start_batch_stream(int64_t offset) override { return restart(batch_, offset); }
  void start_sample_stream(int64_t offset) override { restart(sample_, offset); }

  bool has_rooms() override { return truthy(dataset_.attr("rir_rooms")); }
  double rir_probability() override { return pyutil::float_value(dataset_.attr("apply_rir_prob")); }
  bool has_noise_files() override { return truthy(dataset_.attr("noise_files")); }
  double noise_probability() override { return pyutil::float_value(dataset_.attr("apply_noise_prob")); }

  int64_t speaker_count(int64_t index) override {
    const py::object counts = members_.sequence({mixsim::Population::kSpeakerCounts, 0});
    return py::cast<int64_t>(py::int_(counts[py::int_(index)]));
  }

  bool attempt(const mixsim::BatchSwitches& batch) override {
    std::optional<py::dict> record = synthesize_sample(dataset_, {*worker_, *batch_, *sample_}, batch);
    if (record) records_.push_back(std::move(*record));
    return record.has_value();
  }

 private:
  void start() {
    const py::tuple shard = dataset_.attr("_get_shard_info")();
    const py::object worker_id = shard[0];
    const int64_t worker_count = py::cast<int64_t>(shard[1]);
    // The seeds are the iteration's own: a second iteration of the same
    // dataset rewrites the stored field but cannot move this one's batches.
    seed_base_ = py::int_(dataset_.attr("seed")) + py::int_(dataset_.attr("epoch")) * py::int_(mixsim::kEpochSeedStep) +
                 py::int_(worker_id);
    dataset_.attr("_batch_seed_base") = seed_base_;
    worker_ = std::make_unique<StreamDraws>(blendkit_attr("random").attr("Random")(seed_base_), members_);
    const mixsim::ShardInfo shard_info{py::cast<int64_t>(worker_id), worker_count};
    plan_ = mixsim::plan_iteration(pyutil::optional_int(dataset_.attr("samples_per_epoch")),
                                   pyutil::optional_int(dataset_.attr("batch_size")), shard_info);
    // What a short epoch's warning names, as the shard was found.
    short_.epoch = pyutil::py_str(py::int_(dataset_.attr("epoch")));
    short_.rank = py::cast<int64_t>(py::int_(py::getattr(dataset_, "rank", py::int_(0))));
    const int64_t world_size = py::cast<int64_t>(py::int_(py::getattr(dataset_, "world_size", py::int_(1))));
    short_.worker = mixsim::loader_worker(shard_info, short_.rank, world_size);
    short_.samples = plan_.batch;
    short_.batches = plan_.batches;
  }

  StreamDraws& restart(std::unique_ptr<StreamDraws>& stream, int64_t offset) {
    const py::object seed = seed_base_ + py::int_(offset);
    stream = std::make_unique<StreamDraws>(blendkit_attr("random").attr("Random")(seed), members_);
    return *stream;
  }

  std::optional<py::dict> next_batch() {
    if (plan_.batches && batch_count_ >= *plan_.batches) return std::nullopt;
    records_.clear();
    const mixsim::BatchSwitches batch = mixsim::start_batch(*this, batch_count_);
    const mixsim::BatchFill fill = mixsim::fill_batch(*this, batch_count_, plan_.batch, batch);
    if (fill.made < plan_.batch) {
      // The stream ends here, its unfinished batch dropped; the consumer
      // sees only a shorter epoch, so it is told why.
      short_.batch = batch_count_;
      short_.fill = fill;
      pyutil::py_print(mixsim::short_epoch_line(short_));
      return std::nullopt;
    }
    py::dict collated = collate_batch(records_);
    ++batch_count_;
    return collated;
  }

  py::object dataset_;
  DatasetMembers members_;
  bool finished_ = false;
  py::object seed_base_;
  std::unique_ptr<StreamDraws> worker_;
  std::unique_ptr<StreamDraws> batch_;
  std::unique_ptr<StreamDraws> sample_;
  mixsim::IterationPlan plan_;
  int64_t batch_count_ = 0;
  mixsim::ShortEpoch short_;
  std::vector<py::dict> records_;
};

}  // namespace

void define_batch_stream(pyutil::PlainClass& cls, py::module_& package) {
  // The iterator's type is no name of the package: it is made under the
  // package for its qualified name, then taken off it again. pybind11 keeps
  // the type registered for the life of the process.
  py::class_<BatchStream> stream(package, "_SeparationBatchStream");
  stream.def("__iter__", [](py::object self) { return self; });
  stream.def("__next__", &BatchStream::next);
  stream.inc_ref();
  py::delattr(package, "_SeparationBatchStream");
  cls.def("__iter__", [](py::object self) { return std::make_unique<BatchStream>(std::move(self)); });
}

}  // namespace speech::mixture
