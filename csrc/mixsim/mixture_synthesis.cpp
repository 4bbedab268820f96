#include "mixsim/mixture_synthesis.h"

#include <algorithm>
#include <stdexcept>

#include "common/errors.h"
#include "mixsim/segment_ops.h"
#include "mixsim/stream_plan.h"

namespace speech::mixsim {
namespace {

// An unreadable file (empty) or one left at another rate (its resampling
// failed) has been reported by its reader; a sample that is not a finite
// number is reported here. Each would enter the batch under its speaker's
// label as silence, at the wrong rate or as NaN, so the attempt fails, once
// every source is loaded and before any crop is drawn.
bool load_every_source(MixtureSteps& steps, int64_t n) {
  bool usable = true;
  for (int64_t i = 0; i < n; ++i) {
    const LoadedUtterance loaded = steps.load_source(i);
    if (loaded.refused || loaded.samples == 0 || !loaded.at_target_rate) {
      usable = false;
    } else if (loaded.non_finite) {
      steps.warn_about_source(i, "non-finite audio ", describe_non_finite(*loaded.non_finite, "frame"));
      usable = false;
    }
  }
  return usable;
}

// Each source's segment, its crop start drawn from the worker stream when
// the utterance is longer than L.
std::optional<std::vector<SignalId>> crop_sources(MixtureSteps& steps, RandomDraws& worker, int64_t n, int64_t L) {
  std::vector<SignalId> segments;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t length = steps.source_length(i);
    const int64_t start = length > L ? worker.randint(0, length - L) : 0;
    const std::optional<SignalId> segment = steps.crop_source(i, start, L);
    if (!segment) return std::nullopt;
    segments.push_back(*segment);
  }
  return segments;
}

// The first L samples of `id` in a new signal, zero-padded.
SignalId fitted_copy(MixtureSteps& steps, SignalId id, int64_t L) {
  const NewSignal out = steps.new_signal(L);
  crop_or_pad(steps.samples(id), 0, L, out.samples.data());
  return out.id;
}

struct Reverberation {
  std::vector<SignalId> wet;
  bool used = false;
};

// Source i is convolved with drawn response i. One that is missing, failed
// to load or is empty leaves its source dry, rather than silent under its
// speaker's label.
Reverberation reverberate_sources(MixtureSteps& steps, const std::vector<SignalId>& segments, int64_t L) {
  const int64_t n = static_cast<int64_t>(segments.size());
  const std::optional<int64_t> drawn = steps.draw_impulse_responses(n);
  if (!drawn) return {segments, false};
  std::vector<bool> prepared;
  for (int64_t j = 0; j < *drawn; ++j) prepared.push_back(steps.prepare_impulse_response(j));
  Reverberation result{{}, true};
  for (int64_t i = 0; i < n; ++i) {
    const SignalId dry = segments[static_cast<size_t>(i)];
    const bool usable = i < *drawn && prepared[static_cast<size_t>(i)] && !steps.impulse_response_is_empty(i);
    result.wet.push_back(usable ? steps.reverberate(dry, i, L) : fitted_copy(steps, dry, L));
  }
  return result;
}

// Source 0 is the SIR target of every interferer, whichever source then
// becomes the reference.
std::vector<SignalId> scale_interferers(MixtureSteps& steps, RandomDraws& worker,
                                        const std::vector<SignalId>& preserved) {
  std::vector<SignalId> scaled{preserved.front()};
  for (size_t i = 1; i < preserved.size(); ++i) {
    const auto [low, high] = steps.sir_range();
    const double sir_db = worker.uniform(low, high);
    scaled.push_back(steps.scale_for_sir(preserved.front(), preserved[i], sir_db));
  }
  return scaled;
}

// 1.0 for the reference, else a draw clamped into [0, 1].
std::vector<double> overlap_ratios(RandomDraws& sample, int64_t n, int64_t ref, double low, double high) {
  std::vector<double> ratios;
  for (int64_t i = 0; i < n; ++i) {
    ratios.push_back(i == ref ? 1.0 : std::max(0.0, std::min(1.0, sample.uniform(low, high))));
  }
  return ratios;
}

// Where each placed source came from: the stretch [begin, end) of its
// scaled signal it keeps (the reference keeps all of it).
struct Placement {
  std::vector<SignalId> placed;
  std::vector<RegionBounds> kept;
  std::vector<int64_t> offsets;
  std::vector<int64_t> active_lengths;
};

// The reference is active over the whole segment; every other source keeps
// one stretch of its own signal, taken at a drawn place, and puts it at an
// independently drawn place in the segment, silent elsewhere.
Placement place_sources(MixtureSteps& steps, RandomDraws& sample, const std::vector<SignalId>& scaled, int64_t L) {
  const auto [low, high] = steps.overlap_range().value_or(std::pair<double, double>{1.0, 1.0});
  const int64_t n = static_cast<int64_t>(scaled.size());
  const int64_t ref = sample.randint(0, n - 1);
  const std::vector<double> ratios = overlap_ratios(sample, n, ref, low, high);
  Placement placement;
  for (int64_t i = 0; i < n; ++i) {
    const SignalId s = scaled[static_cast<size_t>(i)];
    const common::SampleView<const float> x = steps.samples(s);
    if (i == ref) {
      placement.placed.push_back(s);
      placement.kept.push_back({0, x.size()});
      placement.offsets.push_back(0);
      placement.active_lengths.push_back(count_nonzero(x));
      continue;
    }
    const int64_t window = round_half_even(ratios[static_cast<size_t>(i)] * static_cast<double>(L));
    const int64_t src_start = x.size() == window ? 0 : sample.randint(0, x.size() - window);
    const int64_t dst_start = L == window ? 0 : sample.randint(0, L - window);
    const NewSignal out = steps.new_signal(L);
    place_window(x.subview(src_start, window), dst_start, L, out.samples.data());
    placement.placed.push_back(out.id);
    placement.kept.push_back({src_start, src_start + window});
    placement.offsets.push_back(dst_start);
    placement.active_lengths.push_back(window);
  }
  return placement;
}

// A source that carries no signal once placed (a silent file, a silent
// stretch cropped, a window that fell in the padding of a short utterance)
// would teach silence under a speaker's label. The speaker's own dry
// samples in the kept stretch decide, as reverberation smears a little of
// the voice outside it and the FFT leaves rounding noise everywhere; a
// placed source of zeros fails too. Judged after every draw of the
// placement, so a sample with a voice in every source is made exactly as
// it would be without the check.
bool every_source_carries_signal(MixtureSteps& steps, const std::vector<SignalId>& segments,
                                 const Placement& placement) {
  bool all = true;
  for (size_t i = 0; i < segments.size(); ++i) {
    const common::SampleView<const float> dry = steps.samples(segments[i]);
    const common::SampleView<const float> placed = steps.samples(placement.placed[i]);
    const int64_t begin = std::min(placement.kept[i].begin, dry.size());
    const int64_t end = std::min(placement.kept[i].end, dry.size());
    if (carries_signal(dry.subview(begin, end - begin)) && carries_signal(placed)) continue;
    steps.warn_about_source(static_cast<int64_t>(i), "silent source ", "it carries no signal after placement");
    all = false;
  }
  return all;
}

common::SampleView<const float> segment_samples(MixtureSteps& steps, SignalId id, int64_t L) {
  const common::SampleView<const float> x = steps.samples(id);
  // As NumPy refuses to stack or subtract signals of other lengths.
  if (x.size() != L) throw common::ValueError("all input arrays must have the same shape");
  return x;
}

SignalId speech_sum(MixtureSteps& steps, const std::vector<SignalId>& placed, int64_t L) {
  std::vector<common::SampleView<const float>> rows;
  for (const SignalId id : placed) rows.push_back(segment_samples(steps, id, L));
  const NewSignal out = steps.new_signal(L);
  sum_sources(rows, L, out.samples.data());
  return out.id;
}

struct NoisyMixture {
  SignalId mixture = 0;
  int64_t file = 0;
};

// A noise segment holding a NaN or an infinity would make the mixture NaN.
bool noise_segment_is_finite(MixtureSteps& steps, SignalId segment) {
  const std::optional<NonFiniteSample> bad = first_non_finite(steps.samples(segment));
  if (!bad) return true;
  steps.warn_about_noise("non-finite noise ", "the drawn segment's " + describe_non_finite(*bad, "sample"));
  return false;
}

// With the "target" reference the noise level is set against source 0 as
// placed, and the scaled noise goes onto the whole speech sum.
SignalId noise_against_target(MixtureSteps& steps, SignalId speech, SignalId first, SignalId segment, double snr_db,
                              int64_t L) {
  const common::SampleView<const float> noisy_first = segment_samples(steps, steps.mix_noise(first, segment, snr_db), L);
  const common::SampleView<const float> dry_first = segment_samples(steps, first, L);
  const common::SampleView<const float> spoken = segment_samples(steps, speech, L);
  const NewSignal noise = steps.new_signal(L);
  subtract(noisy_first, dry_first, noise.samples.data());
  const NewSignal mixture = steps.new_signal(L);
  add(spoken, steps.samples(noise.id), mixture.samples.data());
  return mixture.id;
}

std::optional<NoisyMixture> add_noise(MixtureSteps& steps, const AttemptDraws& draws, SignalId speech, SignalId first,
                                      int64_t L) {
  NoisyMixture result;
  result.file = draws.batch.choice({Population::kNoiseFiles, 0});
  steps.load_noise(result.file);
  const SignalId segment = steps.noise_segment();
  if (!noise_segment_is_finite(steps, segment)) return std::nullopt;
  const auto [low, high] = steps.snr_range();
  const double snr_db = draws.worker.uniform(low, high);
  result.mixture = steps.snr_against_target() ? noise_against_target(steps, speech, first, segment, snr_db, L)
                                              : steps.mix_noise(speech, segment, snr_db);
  return result;
}

// The last guard: a finite input can still overflow float32 on its way to
// the mixture (a float file with enormous samples). Such a sample is
// reported, naming its utterances, and not served.
bool finished_sample_is_finite(MixtureSteps& steps, const std::vector<SignalId>& placed, SignalId mixture) {
  for (size_t i = 0; i < placed.size(); ++i) {
    if (const auto bad = first_non_finite(steps.samples(placed[i]))) {
      steps.warn_about_sample("non-finite sample from ",
                              "source " + std::to_string(i) + "'s " + describe_non_finite(*bad, "sample"));
      return false;
    }
  }
  const auto bad = first_non_finite(steps.samples(mixture));
  if (!bad) return true;
  steps.warn_about_sample("non-finite sample from ", "the mixture's " + describe_non_finite(*bad, "sample"));
  return false;
}

}  // namespace

std::optional<MixtureSample> synthesize_mixture(MixtureSteps& steps, const AttemptDraws& draws,
                                                const BatchSwitches& batch, int64_t L) {
  const std::optional<int64_t> n = steps.draw_speakers(batch.num_speakers);
  if (!n) return std::nullopt;
  // As indexing the first of no sources raises in the interpreter.
  if (*n == 0) throw std::out_of_range("no source was drawn for the mixture");
  if (!load_every_source(steps, *n)) return std::nullopt;
  const std::optional<std::vector<SignalId>> segments = crop_sources(steps, draws.worker, *n, L);
  if (!segments) return std::nullopt;

  Reverberation reverb{*segments, false};
  if (batch.apply_rir && steps.has_rooms()) reverb = reverberate_sources(steps, *segments, L);
  std::vector<SignalId> preserved;
  for (size_t i = 0; i < segments->size(); ++i) {
    preserved.push_back(steps.preserve_level((*segments)[i], reverb.wet[i]));
  }
  const std::vector<SignalId> scaled = scale_interferers(steps, draws.worker, preserved);

  const Placement placement = place_sources(steps, draws.sample, scaled, L);
  if (!every_source_carries_signal(steps, *segments, placement)) return std::nullopt;
  MixtureSample sample{placement.placed, placement.offsets, placement.active_lengths, 0, reverb.used, std::nullopt};
  const SignalId speech = speech_sum(steps, placement.placed, L);
  sample.mixture = speech;
  if (batch.apply_noise && steps.has_noise_files()) {
    const std::optional<NoisyMixture> noisy = add_noise(steps, draws, speech, placement.placed.front(), L);
    if (!noisy) return std::nullopt;
    sample.mixture = noisy->mixture;
    sample.noise_file = noisy->file;
  }
  if (!finished_sample_is_finite(steps, placement.placed, sample.mixture)) return std::nullopt;
  return sample;
}

}  // namespace speech::mixsim
