#pragma once
// One batch of the training stream: the switches and the speaker count that
// all its samples share, drawn from the batch's own stream, then synthesis
// attempts until every sample is made or the batch's attempts run out.
#include <cstdint>

#include "mixsim/mixture_synthesis.h"
#include "mixsim/random_draws.h"

namespace speech::mixsim {

// Seeds are the iteration's base seed plus an offset: batch b's stream has
// offset b, the stream of its sample s has offset b * 10^6 + s.
constexpr int64_t kEpochSeedStep = 1000000000;
constexpr int64_t kBatchSeedStep = 1000000;

class BatchSteps {
 public:
  virtual ~BatchSteps() = default;

  // A new stream seeded with the base seed plus `offset`, as the batch's
  // stream or as the sample stream of the attempts that follow.
  virtual RandomDraws& start_batch_stream(int64_t offset) = 0;
  virtual void start_sample_stream(int64_t offset) = 0;

  // The dataset's fields, read at every batch.
  virtual bool has_rooms() = 0;
  virtual double rir_probability() = 0;
  virtual bool has_noise_files() = 0;
  virtual double noise_probability() = 0;
  // The speaker count that member `index` of the weighted counts stands for.
  virtual int64_t speaker_count(int64_t index) = 0;

  // One synthesis attempt on the worker stream, the batch stream and the
  // last sample stream started: whether it made a sample.
  virtual bool attempt(const BatchSwitches& batch) = 0;
};

// The switches of batch `batch_id`, from its batch stream: reverberation and
// noise, each on when its files exist and a draw is at most its
// probability (no draw without files), then one speaker count for every
// sample, brought into 1..4.
BatchSwitches start_batch(BatchSteps& steps, int64_t batch_id);

// Attempts until `samples` are made, at most attempts_per_batch(samples)
// in all, shared by the batch's samples. Each new sample gets a fresh
// sample stream; a retry goes on with the stream of the attempt it
// repeats, since one that failed after its placement would otherwise draw
// the same windows again, and fail again (one that failed earlier drew
// nothing from it).
struct BatchFill {
  int64_t made = 0;      // samples made
  int64_t attempts = 0;  // attempts run, the failed ones included
  int64_t failed() const { return attempts - made; }
};

BatchFill fill_batch(BatchSteps& steps, int64_t batch_id, int64_t samples, const BatchSwitches& batch);

}  // namespace speech::mixsim
