// The steps of one synthesis attempt on the dataset and the package's
// collaborators, looked up when each step runs, and the mixture sample
// record of what the attempt made. The order and the decisions are the
// core's.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "bindings/utility/blendkit/mixture_sources.h"
#include "bindings/utility/blendkit/package_originals.h"
#include "bindings/utility/blendkit/stream_draws.h"
#include "mixsim/mixture_synthesis.h"
#include "pyutil/float_value.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

using mixsim::SignalId;

// The attempt's signals: interpreter objects, each with its float32 view
// made when the core first reads it.
class SignalTable {
 public:
  SignalId add(py::object signal) {
    objects_.push_back(std::move(signal));
    views_.emplace_back();
    return static_cast<SignalId>(objects_.size() - 1);
  }

  mixsim::NewSignal make(int64_t n) {
    FloatArray out(static_cast<py::ssize_t>(n));
    const common::SampleView<float> samples = writable_samples(out);
    const SignalId id = add(out);
    views_.back() = std::move(out);
    return {id, samples};
  }

  const py::object& object(SignalId id) const { return objects_.at(static_cast<size_t>(id)); }

  const FloatArray& view(SignalId id) {
    std::optional<FloatArray>& view = views_.at(static_cast<size_t>(id));
    if (!view) view = float32_view(object(id));
    return *view;
  }

 private:
  std::vector<py::object> objects_;
  std::vector<std::optional<FloatArray>> views_;
};

std::pair<double, double> range_of(const py::object& range) {
  return {pyutil::float_value(range[py::int_(0)]), pyutil::float_value(range[py::int_(1)])};
}

class AttemptSteps final : public mixsim::MixtureSteps {
 public:
  AttemptSteps(const py::object& dataset, const AttemptStreams& streams) : dataset_(dataset), streams_(streams) {}

  std::optional<int64_t> draw_speakers(int64_t n) override {
    try {
      picks_ = new_list(dataset_.attr("_sample_speakers_and_utts")(streams_.worker.stream(), n));
    } catch (py::error_already_set& e) {
      if (!pyutil::is_ordinary(e)) throw;
      return std::nullopt;
    }
    target_sr_ = dataset_.attr("target_sr");
    direct_ = readers_are_original();
    return static_cast<int64_t>(picks_.size());
  }

  mixsim::LoadedUtterance load_source(int64_t i) override {
    const auto [speaker, path] = pyutil::unpack_pair(picks_[static_cast<size_t>(i)]);
    LoadedSource loaded = mixture::load_source(speaker, path, target_sr_, direct_);
    sources_.push_back(std::move(loaded.source));
    return loaded.found;
  }

  int64_t source_length(int64_t i) override { return source(i).samples.length(); }

  std::optional<SignalId> crop_source(int64_t i, int64_t start, int64_t L) override {
    std::optional<FloatArray> segment = mixture::crop_source(source(i), start, L);
    if (!segment) return std::nullopt;
    return signals_.add(std::move(*segment));
  }

  bool has_rooms() override { return truthy(dataset_.attr("rir_rooms")); }

  std::optional<int64_t> draw_impulse_responses(int64_t n) override {
    rir_paths_ = dataset_.attr("_sample_rir_room_and_files")(streams_.batch.stream(), py::arg("num") = n,
                                                             py::arg("same_for_all") = false);
    if (!truthy(rir_paths_)) return std::nullopt;
    rir_list_ = new_list(rir_paths_);
    return static_cast<int64_t>(rir_list_.size());
  }

  bool prepare_impulse_response(int64_t j) override {
    const py::object path = rir_list_[static_cast<size_t>(j)];
    rirs_.push_back(py::none());
    if (path.is_none()) return false;
    try {
      rirs_.back() = dataset_.attr("_load_and_resample_rir")(path);
    } catch (py::error_already_set& e) {
      if (!pyutil::is_ordinary(e)) throw;
      print_warning("failed load rir ", path, e);
      return false;
    }
    return true;
  }

  bool impulse_response_is_empty(int64_t j) override { return size_of(rirs_.at(static_cast<size_t>(j))) == 0; }

  SignalId reverberate(SignalId segment, int64_t j, int64_t L) override {
    return signals_.add(reverberated_source(dataset_, signals_.view(segment), rirs_.at(static_cast<size_t>(j)), L));
  }

  SignalId preserve_level(SignalId dry, SignalId wet) override {
    return signals_.add(blendkit_attr("preserve_rms")(signals_.object(dry), signals_.object(wet)));
  }

  std::pair<double, double> sir_range() override { return range_of(dataset_.attr("sir_range")); }

  SignalId scale_for_sir(SignalId target, SignalId interferer, double sir_db) override {
    return signals_.add(
        blendkit_attr("_scale_for_sir")(signals_.object(target), signals_.object(interferer), py::float_(sir_db)));
  }

  std::optional<std::pair<double, double>> overlap_range() override {
    if (!py::hasattr(dataset_, "overlap_range")) return std::nullopt;
    const auto [low, high] = pyutil::unpack_pair(dataset_.attr("overlap_range"));
    return std::pair<double, double>{pyutil::float_value(low), pyutil::float_value(high)};
  }

  bool has_noise_files() override { return truthy(dataset_.attr("noise_files")); }

  void load_noise(int64_t file) override {
    noise_path_ = dataset_.attr("noise_files")[py::int_(file)];
    noise_full_ = prepared_noise(dataset_, noise_path_);
  }

  SignalId noise_segment() override {
    return signals_.add(dataset_.attr("_sample_noise_segment")(noise_full_, streams_.worker.stream()));
  }

  std::pair<double, double> snr_range() override { return range_of(dataset_.attr("snr_range")); }

  bool snr_against_target() override { return py::object(dataset_.attr("snr_reference")).equal(py::str("target")); }

  SignalId mix_noise(SignalId clean, SignalId noise, double snr_db) override {
    return signals_.add(blendkit_attr("_mix_noise_at_snr")(signals_.object(clean), signals_.object(noise),
                                                           py::float_(snr_db), streams_.worker.stream()));
  }

  common::SampleView<const float> samples(SignalId id) override { return array_samples(signals_.view(id)); }

  mixsim::NewSignal new_signal(int64_t size) override { return signals_.make(size); }

  void warn_about_source(int64_t i, const std::string& phrase, const std::string& reason) override {
    const py::object path = pyutil::unpack_pair(picks_[static_cast<size_t>(i)]).second;
    print_warning(phrase, path, reason);
  }

  void warn_about_noise(const std::string& phrase, const std::string& reason) override {
    print_warning(phrase, noise_path_, reason);
  }

  void warn_about_sample(const std::string& phrase, const std::string& reason) override {
    py::list paths;
    for (const Source& s : sources_) paths.append(py::str(s.path));
    print_warning(phrase, py::str(", ").attr("join")(paths), reason);
  }

  py::dict record(const mixsim::MixtureSample& sample, const mixsim::BatchSwitches& batch) const;

 private:
  const Source& source(int64_t i) const { return sources_.at(static_cast<size_t>(i)); }

  const py::object& dataset_;
  const AttemptStreams& streams_;
  py::object target_sr_;
  bool direct_ = false;
  py::list picks_;
  std::vector<Source> sources_;
  py::object rir_paths_ = py::none();
  py::list rir_list_;
  std::vector<py::object> rirs_;
  py::object noise_path_ = py::none();
  py::object noise_full_;
  SignalTable signals_;
};

py::object to_tensor(const py::object& x) {
  const py::object torch = blendkit_attr("torch");
  if (x.is_none() || size_of(x) == 0) return torch.attr("zeros")(1, py::arg("dtype") = torch.attr("float32"));
  return torch.attr("from_numpy")(x).attr("float")();
}

py::list int_list(const std::vector<int64_t>& values) {
  py::list out;
  for (const int64_t v : values) out.append(v);
  return out;
}

py::dict AttemptSteps::record(const mixsim::MixtureSample& sample, const mixsim::BatchSwitches& batch) const {
  py::list tensors, ids, paths;
  for (const SignalId id : sample.placed) tensors.append(to_tensor(signals_.object(id)));
  for (const Source& s : sources_) {
    ids.append(s.speaker);
    paths.append(s.path);
  }
  py::dict provenance;
  provenance["sources"] = paths;
  provenance["rir_used"] = sample.reverberated ? rir_paths_ : py::none();
  provenance["noise_path"] = sample.noise_file ? noise_path_ : py::none();
  provenance["rir_applied_batch"] = py::bool_(batch.apply_rir);
  provenance["noise_applied_batch"] = py::bool_(batch.apply_noise);
  py::dict record;
  record["sources"] = tensors;
  record["sources_offset"] = int_list(sample.offsets);
  record["sources_len"] = int_list(sample.active_lengths);
  record["mixture"] = to_tensor(signals_.object(sample.mixture));
  record["num_spk"] = py::int_(batch.num_speakers);
  record["sr"] = dataset_.attr("target_sr");
  record["source_ids"] = ids;
  record["paths"] = provenance;
  return record;
}

}  // namespace

std::optional<py::dict> synthesize_sample(const py::object& dataset, const AttemptStreams& streams,
                                          const mixsim::BatchSwitches& batch) {
  AttemptSteps steps(dataset, streams);
  const int64_t L = py::cast<int64_t>(dataset.attr("segment_samples"));
  const mixsim::AttemptDraws draws{streams.worker, streams.batch, streams.sample};
  const std::optional<mixsim::MixtureSample> sample = mixsim::synthesize_mixture(steps, draws, batch, L);
  if (!sample) return std::nullopt;
  return steps.record(*sample, batch);
}

}  // namespace speech::mixture
