#pragma once
// One training mixture, step by step: speakers and utterances, crops,
// reverberation, level restoration, SIR scaling, overlap placement and
// noise, every random decision taken from the worker, batch and sample
// streams in a fixed order, so a seeded stream gives the same mixtures
// again. The steps that reach the dataset's collaborators (readers,
// resampler, level functions, caches) are its owner's; the order, the
// draws, the placement and what refuses a sample are decided here.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/sample_view.h"
#include "mixsim/random_draws.h"
#include "mixsim/signal_faults.h"

namespace speech::mixsim {

// The random streams of one synthesis attempt.
struct AttemptDraws {
  RandomDraws& worker;  // speakers, crops, SIR, noise segment, SNR
  RandomDraws& batch;   // impulse responses, noise file
  RandomDraws& sample;  // reference, overlaps, windows
};

// What a batch decided for all of its samples.
struct BatchSwitches {
  int64_t num_speakers = 1;
  bool apply_rir = false;
  bool apply_noise = false;
};

// A signal of the attempt, by its place among the signals its steps hold.
using SignalId = int64_t;

struct NewSignal {
  SignalId id = 0;
  common::SampleView<float> samples;  // for the synthesis to fill
};

// What loading one drawn utterance found.
struct LoadedUtterance {
  bool refused = false;        // already refused while loading, and reported
  int64_t samples = 0;         // 0 for an unreadable file
  bool at_target_rate = true;  // false when its resampling failed (reported)
  std::optional<NonFiniteSample> non_finite;
};

class MixtureSteps {
 public:
  virtual ~MixtureSteps() = default;

  // Draws the speakers and one utterance of each from the worker stream:
  // how many sources were drawn, or nothing when the draw raised.
  virtual std::optional<int64_t> draw_speakers(int64_t n) = 0;
  virtual LoadedUtterance load_source(int64_t i) = 0;
  // Samples of source i at the stream's rate.
  virtual int64_t source_length(int64_t i) = 0;
  // L samples of source i from `start`, zero-padded past its end; nothing
  // when its file cannot be read after all (reported).
  virtual std::optional<SignalId> crop_source(int64_t i, int64_t start, int64_t L) = 0;

  virtual bool has_rooms() = 0;
  // Draws impulse responses for n sources from the batch stream: how many
  // were drawn, or nothing when none.
  virtual std::optional<int64_t> draw_impulse_responses(int64_t n) = 0;
  // Whether drawn response j is there to use: false for a missing path or
  // one whose preparation raised (reported).
  virtual bool prepare_impulse_response(int64_t j) = 0;
  virtual bool impulse_response_is_empty(int64_t j) = 0;
  // `segment` convolved with prepared response j, fitted to L samples.
  virtual SignalId reverberate(SignalId segment, int64_t j, int64_t L) = 0;

  virtual SignalId preserve_level(SignalId dry, SignalId wet) = 0;
  virtual std::pair<double, double> sir_range() = 0;
  virtual SignalId scale_for_sir(SignalId target, SignalId interferer, double sir_db) = 0;
  // Nothing when the dataset has no overlap range: every source is then
  // active throughout.
  virtual std::optional<std::pair<double, double>> overlap_range() = 0;

  virtual bool has_noise_files() = 0;
  // Noise file `file` becomes the attempt's noise.
  virtual void load_noise(int64_t file) = 0;
  // A segment of that noise, drawn from the worker stream.
  virtual SignalId noise_segment() = 0;
  virtual std::pair<double, double> snr_range() = 0;
  virtual bool snr_against_target() = 0;
  // `clean` with `noise` added at snr_db, drawing from the worker stream.
  virtual SignalId mix_noise(SignalId clean, SignalId noise, double snr_db) = 0;

  // A signal's samples, side by side, valid while the attempt lasts.
  virtual common::SampleView<const float> samples(SignalId id) = 0;
  virtual NewSignal new_signal(int64_t size) = 0;

  // One warning line: "[Warning] " + phrase + the subject + ": " + reason;
  // the subject is source i's path, the noise file's, or every source's.
  virtual void warn_about_source(int64_t i, const std::string& phrase, const std::string& reason) = 0;
  virtual void warn_about_noise(const std::string& phrase, const std::string& reason) = 0;
  virtual void warn_about_sample(const std::string& phrase, const std::string& reason) = 0;
};

// The sample an attempt made.
struct MixtureSample {
  std::vector<SignalId> placed;         // per source, in the order drawn
  std::vector<int64_t> offsets;         // start of each active window
  std::vector<int64_t> active_lengths;  // the reference's non-zero samples, else its window
  SignalId mixture = 0;
  bool reverberated = false;          // the drawn impulse responses were used
  std::optional<int64_t> noise_file;  // the noise file mixed in
};

// One attempt at a mixture of L samples. Nothing when it failed and is to
// be retried: the speaker draw raised, an utterance is unusable (unreadable,
// at another rate, not finite), a source carries no signal once placed, the
// noise segment or the finished sample is not finite. Any other error
// leaves the attempt.
std::optional<MixtureSample> synthesize_mixture(MixtureSteps& steps, const AttemptDraws& draws,
                                                const BatchSwitches& batch, int64_t L);

}  // namespace speech::mixsim
