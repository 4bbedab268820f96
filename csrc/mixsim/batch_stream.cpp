#include "mixsim/batch_stream.h"

#include "mixsim/stream_plan.h"

namespace speech::mixsim {

BatchSwitches start_batch(BatchSteps& steps, int64_t batch_id) {
  RandomDraws& batch_rng = steps.start_batch_stream(batch_id);
  BatchSwitches batch;
  // A draw equal to the probability counts as on; the field is read after
  // the draw, as the comparison reads it.
  if (steps.has_rooms()) {
    const double draw = batch_rng.random();
    batch.apply_rir = draw <= steps.rir_probability();
  }
  if (steps.has_noise_files()) {
    const double draw = batch_rng.random();
    batch.apply_noise = draw <= steps.noise_probability();
  }
  const int64_t drawn = batch_rng.weighted_choice({Population::kSpeakerCounts, 0});
  batch.num_speakers = clamp_speaker_count(steps.speaker_count(drawn));
  return batch;
}

BatchFill fill_batch(BatchSteps& steps, int64_t batch_id, int64_t samples, const BatchSwitches& batch) {
  BatchFill fill;
  bool retry = false;
  while (fill.made < samples) {
    if (!retry) steps.start_sample_stream(batch_id * kBatchSeedStep + fill.made);
    if (fill.attempts == attempts_per_batch(samples)) break;
    ++fill.attempts;
    retry = !steps.attempt(batch);
    if (!retry) ++fill.made;
  }
  return fill;
}

}  // namespace speech::mixsim
