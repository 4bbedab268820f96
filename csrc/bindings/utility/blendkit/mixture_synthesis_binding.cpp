// One synthesis attempt: speakers and utterances, crops, reverberation,
// level restoration, SIR scaling, overlap placement and noise, drawn from
// the worker, batch and sample streams in their fixed order.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <vector>

#include "bindings/utility/blendkit/mixture_parts.h"
#include "bindings/utility/blendkit/mixture_sources.h"
#include "mixsim/segment_ops.h"
#include "mixsim/signal_faults.h"
#include "mixsim/stream_plan.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

py::object draw_uniform(const py::object& stream, const py::object& range) {
  return stream.attr("uniform")(range[py::int_(0)], range[py::int_(1)]);
}

// The impulse response of each drawn path; None where there is none or its
// preparation raised (one warning line).
std::vector<py::object> prepare_rirs(const py::object& dataset, const py::object& rir_paths) {
  std::vector<py::object> rirs;
  for (const py::handle path : rir_paths) {
    if (path.is_none()) {
      rirs.push_back(py::none());
      continue;
    }
    try {
      rirs.push_back(dataset.attr("_load_and_resample_rir")(path));
    } catch (py::error_already_set& e) {
      if (!is_ordinary_exception(e)) throw;
      print_warning("failed load rir ", path, e);
      rirs.push_back(py::none());
    }
  }
  return rirs;
}

struct Reverberation {
  std::vector<FloatArray> sources;
  py::object rir_used = py::none();
};

Reverberation reverberate(const py::object& dataset, const std::vector<FloatArray>& segs, const py::object& batch_rng,
                          int64_t L) {
  Reverberation result;
  const int64_t n = static_cast<int64_t>(segs.size());
  const py::object rir_paths =
      dataset.attr("_sample_rir_room_and_files")(batch_rng, py::arg("num") = n, py::arg("same_for_all") = false);
  if (!truthy(rir_paths)) {
    result.sources = segs;
    return result;
  }
  const std::vector<py::object> rirs = prepare_rirs(dataset, rir_paths);
  for (int64_t i = 0; i < n; ++i) {
    const bool has_rir = i < static_cast<int64_t>(rirs.size()) && !rirs[static_cast<size_t>(i)].is_none();
    const py::object& rir = has_rir ? rirs[static_cast<size_t>(i)] : py::none();
    // An empty impulse response convolves to nothing; the source stays dry
    // rather than going silent under its speaker's label.
    if (!has_rir || size_of(rir) == 0) {
      result.sources.push_back(pad_or_crop(segs[static_cast<size_t>(i)], L, nullptr));
      continue;
    }
    result.sources.push_back(reverberated_source(dataset, segs[static_cast<size_t>(i)], rir, L));
  }
  result.rir_used = rir_paths;
  return result;
}

// Where each source's kept stretch [begin, begin + size) of its segment
// went; the reference keeps the whole segment.
struct Placement {
  std::vector<py::object> placed;
  std::vector<mixsim::RegionBounds> kept;
  py::list offsets;
  py::list active_lens;
};

std::pair<py::object, py::object> overlap_bounds(const py::object& dataset) {
  if (!py::hasattr(dataset, "overlap_range")) return {py::float_(1.0), py::float_(1.0)};
  return unpack_pair(dataset.attr("overlap_range"));
}

Placement place_sources(const py::object& dataset, const std::vector<py::object>& scaled,
                        const py::object& sample_rng, int64_t L) {
  const auto [min_o, max_o] = overlap_bounds(dataset);
  const int64_t n = static_cast<int64_t>(scaled.size());
  const int64_t ref_idx = draw_int(sample_rng, 0, n - 1);
  std::vector<double> overlaps;
  for (int64_t i = 0; i < n; ++i) {
    if (i == ref_idx) {
      overlaps.push_back(1.0);
      continue;
    }
    const double draw = py::cast<double>(sample_rng.attr("uniform")(min_o, max_o));
    overlaps.push_back(std::max(0.0, std::min(1.0, draw)));
  }
  Placement placement;
  for (int64_t i = 0; i < n; ++i) {
    const py::object& s = scaled[static_cast<size_t>(i)];
    const FloatArray samples = float32_view(s);
    if (i == ref_idx) {
      placement.placed.push_back(s);
      placement.kept.push_back({0, samples.size()});
      placement.offsets.append(0);
      placement.active_lens.append(mixsim::count_nonzero(samples.data(), samples.size()));
      continue;
    }
    const int64_t seg_len = samples.size();
    const int64_t overlap_len = mixsim::round_half_even(overlaps[static_cast<size_t>(i)] * static_cast<double>(L));
    const int64_t src_start = seg_len == overlap_len ? 0 : draw_int(sample_rng, 0, seg_len - overlap_len);
    const int64_t dst_start = L == overlap_len ? 0 : draw_int(sample_rng, 0, L - overlap_len);
    FloatArray out(static_cast<py::ssize_t>(L));
    mixsim::place_window(samples.data(), src_start, overlap_len, dst_start, L, out.mutable_data());
    placement.placed.push_back(std::move(out));
    placement.kept.push_back({src_start, src_start + overlap_len});
    placement.offsets.append(dst_start);
    placement.active_lens.append(overlap_len);
  }
  return placement;
}

// A source that carries no signal once placed (a silent file, a silent
// stretch cropped, a window that fell in the padding of a short utterance)
// would teach silence under a speaker's label: each is reported, and the
// attempt fails. The speaker's own dry samples in the kept stretch decide,
// as reverberation smears a little of the voice outside it and the FFT
// leaves rounding noise everywhere; a placed source of zeros fails too.
// Judged after every draw of the placement, so a sample with a voice in
// every source is made exactly as it would be without the check.
bool every_source_carries_signal(const std::vector<Source>& sources, const std::vector<FloatArray>& segs,
                                 const Placement& placement) {
  bool all = true;
  for (size_t i = 0; i < sources.size(); ++i) {
    const mixsim::RegionBounds& kept = placement.kept[i];
    const FloatArray placed = float32_view(placement.placed[i]);
    if (mixsim::carries_signal(segs[i].data() + kept.begin, kept.size()) &&
        mixsim::carries_signal(placed.data(), placed.size())) {
      continue;
    }
    print_warning("silent source ", sources[i].path, "it carries no signal after placement");
    all = false;
  }
  return all;
}

FloatArray speech_sum(const std::vector<py::object>& placed, int64_t L) {
  std::vector<FloatArray> views;
  std::vector<const float*> rows;
  for (const py::object& p : placed) {
    views.push_back(float32_view(p));
    rows.push_back(views.back().data());
  }
  FloatArray out(static_cast<py::ssize_t>(L));
  mixsim::sum_sources(rows.data(), static_cast<int64_t>(rows.size()), L, out.mutable_data());
  return out;
}

// librosa.resample of a float32 noise. A noise holding a non-finite sample
// would be refused whole; it is resampled with those samples zeroed and NaN
// put back where they land, so that at every rate only the segments that
// reach one are refused.
py::object resample_noise(const FloatArray& noise, const py::object& noise_sr, const py::object& target_sr) {
  const py::object resample = blendkit_attr("librosa").attr("resample");
  const auto call = [&](const py::object& signal) {
    return resample(signal, py::arg("orig_sr") = noise_sr, py::arg("target_sr") = target_sr,
                    py::arg("res_type") = "kaiser_fast");
  };
  if (!mixsim::first_non_finite(noise.data(), noise.size())) return call(noise);
  FloatArray zeroed(noise.size());
  std::copy(noise.data(), noise.data() + noise.size(), zeroed.mutable_data());
  mixsim::zero_non_finite(zeroed.mutable_data(), zeroed.size());
  // A copy of its own, whatever the resampler returned, to mark in place.
  FloatArray resampled = blendkit_attr("np").attr("array")(call(zeroed), py::arg("dtype") = "float32");
  mixsim::restore_non_finite(noise.data(), noise.size(), py::cast<double>(noise_sr), py::cast<double>(target_sr),
                             resampled.mutable_data(), resampled.size());
  return std::move(resampled);
}

// The whole noise signal of `path`: read, reduced to its first channel and
// brought to the dataset's rate on first use, then served from the cache.
py::object cached_noise(const py::object& dataset, const py::object& path) {
  const py::dict cache = dataset.attr("_noise_cache");
  if (cache.contains(path)) return cache[path];
  const py::object np = blendkit_attr("np");
  const auto [data, noise_sr] = unpack_pair(blendkit_attr("_safe_sf_read")(path, py::arg("dtype") = "float32"));
  py::object noise = data;
  if (ndim_of(noise) == 2) noise = noise[py::make_tuple(slice_of(py::none(), py::none()), 0)];
  const py::object target_sr = dataset.attr("target_sr");
  if (noise_sr.not_equal(target_sr) && size_of(noise) > 0) {
    try {
      noise = resample_noise(np.attr("asarray")(noise, py::arg("dtype") = np.attr("float32")), noise_sr, target_sr);
    } catch (py::error_already_set& e) {
      if (!is_ordinary_exception(e)) throw;
      print_warning("failed resample noise ", path, e);
    }
  }
  noise = np.attr("ascontiguousarray")(np.attr("asarray")(noise, py::arg("dtype") = np.attr("float32")));
  cache[path] = noise;
  return noise;
}

// The segment mixed into this sample; nothing, after a warning line, when it
// holds a NaN or an infinity, which would make the mixture NaN.
std::optional<py::object> finite_noise_segment(const py::object& dataset, const py::object& path,
                                               const py::object& noise_full, const py::object& rng) {
  const py::object segment = dataset.attr("_sample_noise_segment")(noise_full, rng);
  const FloatArray samples = float32_view(segment);
  if (const auto bad = mixsim::first_non_finite(samples.data(), samples.size())) {
    print_warning("non-finite noise ", path, "the drawn segment's " + mixsim::describe_non_finite(*bad, "sample"));
    return std::nullopt;
  }
  return segment;
}

struct NoisyMixture {
  py::object mixture;
  py::object noise_path = py::none();
};

std::optional<NoisyMixture> add_noise(const py::object& dataset, const py::object& rng, const py::object& batch_rng,
                                      const py::object& speech, const py::object& placed_first, int64_t L) {
  NoisyMixture result;
  result.noise_path = batch_rng.attr("choice")(dataset.attr("noise_files"));
  const py::object noise_full = cached_noise(dataset, result.noise_path);
  const std::optional<py::object> segment = finite_noise_segment(dataset, result.noise_path, noise_full, rng);
  if (!segment) return std::nullopt;
  const py::object& noise_seg = *segment;
  const py::object snr_db = draw_uniform(rng, dataset.attr("snr_range"));
  const py::object mix_noise = blendkit_attr("_mix_noise_at_snr");
  const py::object reference = dataset.attr("snr_reference");
  if (reference.equal(py::str("target"))) {
    // The level is set against source 0 as placed; the scaled noise goes
    // onto the whole speech sum.
    const FloatArray noisy_first = float32_view(mix_noise(placed_first, noise_seg, snr_db, rng));
    const FloatArray first = float32_view(placed_first);
    const FloatArray speech_samples = float32_view(speech);
    FloatArray noise_scaled(static_cast<py::ssize_t>(L));
    mixsim::subtract(noisy_first.data(), first.data(), L, noise_scaled.mutable_data());
    FloatArray mixture(static_cast<py::ssize_t>(L));
    mixsim::add(speech_samples.data(), noise_scaled.data(), L, mixture.mutable_data());
    result.mixture = std::move(mixture);
  } else {
    result.mixture = mix_noise(speech, noise_seg, snr_db, rng);
  }
  return result;
}

// The last guard: a finite input can still overflow float32 on its way to
// the mixture (a float file with enormous samples). Such a sample is
// reported, naming its utterances, and not served.
bool finished_sample_is_finite(const std::vector<Source>& sources, const Placement& placement,
                               const py::object& mixture) {
  std::string where;
  for (size_t i = 0; i < placement.placed.size() && where.empty(); ++i) {
    const FloatArray samples = float32_view(placement.placed[i]);
    if (const auto bad = mixsim::first_non_finite(samples.data(), samples.size())) {
      where = "source " + std::to_string(i) + "'s " + mixsim::describe_non_finite(*bad, "sample");
    }
  }
  if (where.empty()) {
    const FloatArray samples = float32_view(mixture);
    const auto bad = mixsim::first_non_finite(samples.data(), samples.size());
    if (!bad) return true;
    where = "the mixture's " + mixsim::describe_non_finite(*bad, "sample");
  }
  py::list names;
  for (const Source& s : sources) names.append(py::str(s.path));
  print_warning("non-finite sample from ", py::str(", ").attr("join")(names), where);
  return false;
}

py::object to_tensor(const py::object& x) {
  const py::object torch = blendkit_attr("torch");
  if (x.is_none() || size_of(x) == 0) return torch.attr("zeros")(1, py::arg("dtype") = torch.attr("float32"));
  return torch.attr("from_numpy")(x).attr("float")();
}

py::dict sample_record(const py::object& dataset, const std::vector<Source>& sources, const Placement& placement,
                       const py::object& mixture, const py::object& rir_used, const py::object& noise_path,
                       const BatchSwitches& batch) {
  py::list tensors, ids, paths;
  for (const py::object& p : placement.placed) tensors.append(to_tensor(p));
  for (const Source& s : sources) {
    ids.append(s.speaker);
    paths.append(s.path);
  }
  py::dict provenance;
  provenance["sources"] = paths;
  provenance["rir_used"] = rir_used;
  provenance["noise_path"] = noise_path;
  provenance["rir_applied_batch"] = py::bool_(batch.apply_rir);
  provenance["noise_applied_batch"] = py::bool_(batch.apply_noise);
  py::dict record;
  record["sources"] = tensors;
  record["sources_offset"] = placement.offsets;
  record["sources_len"] = placement.active_lens;
  record["mixture"] = to_tensor(mixture);
  record["num_spk"] = py::int_(batch.num_speakers);
  record["sr"] = dataset.attr("target_sr");
  record["source_ids"] = ids;
  record["paths"] = provenance;
  return record;
}

}  // namespace

std::optional<py::dict> synthesize_sample(const py::object& dataset, const AttemptStreams& streams,
                                          const BatchSwitches& batch) {
  const int64_t N = batch.num_speakers;
  py::object picks;
  try {
    picks = dataset.attr("_sample_speakers_and_utts")(streams.rng, N);
  } catch (py::error_already_set& e) {
    if (!is_ordinary_exception(e)) throw;
    return std::nullopt;
  }
  const py::object target_sr = dataset.attr("target_sr");
  const int64_t L = py::cast<int64_t>(dataset.attr("segment_samples"));
  const std::optional<std::vector<Source>> sources = load_sources(picks, target_sr);
  if (!sources) return std::nullopt;

  std::vector<FloatArray> segs;
  for (const Source& s : *sources) {
    std::optional<FloatArray> seg = crop_source(s, L, streams.rng);
    if (!seg) return std::nullopt;
    segs.push_back(std::move(*seg));
  }

  Reverberation reverb;
  if (batch.apply_rir && truthy(dataset.attr("rir_rooms"))) {
    reverb = reverberate(dataset, segs, streams.batch_rng, L);
  } else {
    reverb.sources = segs;
  }

  std::vector<py::object> preserved;
  for (size_t i = 0; i < segs.size(); ++i) {
    preserved.push_back(blendkit_attr("preserve_rms")(segs[i], reverb.sources[i]));
  }
  std::vector<py::object> scaled{preserved.front()};
  for (size_t i = 1; i < preserved.size(); ++i) {
    const py::object sir_db = draw_uniform(streams.rng, dataset.attr("sir_range"));
    scaled.push_back(blendkit_attr("_scale_for_sir")(preserved.front(), preserved[i], sir_db));
  }

  const Placement placement = place_sources(dataset, scaled, streams.sample_rng, L);
  if (!every_source_carries_signal(*sources, segs, placement)) return std::nullopt;
  const FloatArray speech = speech_sum(placement.placed, L);
  py::object mixture = speech;
  py::object noise_path = py::none();
  if (batch.apply_noise && truthy(dataset.attr("noise_files"))) {
    std::optional<NoisyMixture> noisy =
        add_noise(dataset, streams.rng, streams.batch_rng, speech, placement.placed.front(), L);
    if (!noisy) return std::nullopt;
    mixture = noisy->mixture;
    noise_path = noisy->noise_path;
  }
  if (!finished_sample_is_finite(*sources, placement, mixture)) return std::nullopt;
  return sample_record(dataset, *sources, placement, mixture, reverb.rir_used, noise_path, batch);
}

}  // namespace speech::mixture
