#pragma once
// The integer arithmetic of the training stream: which share of the samples
// a worker owns, how many whole batches that makes, and the interpreter's
// rounding rule that the stream's sizes are defined with.
#include <cstdint>
#include <optional>

namespace speech::mixsim {

// round(x) of the interpreter for a float: nearest integer, halves to even.
int64_t round_half_even(double x);

struct ShardInfo {
  int64_t global_worker_id = 0;
  int64_t global_worker_count = 1;
};

// Worker w of process r is r + w * world_size: the processes interleave.
// ValueError for a world_size or rank that check_shard refuses.
ShardInfo shard_info(int64_t rank, int64_t world_size, int64_t worker_id, int64_t num_workers);

// The loader worker within its process that a global worker id stands for:
// shard_info read backwards. The id itself for a world_size below 1, which
// no valid shard has.
int64_t loader_worker(const ShardInfo& shard, int64_t rank, int64_t world_size);

// The worker's share of an epoch: an even split, the first `remainder`
// workers taking one more. None for an endless stream. ValueError for a
// worker count below 1, which would divide by zero or by a negative count.
std::optional<int64_t> samples_for_worker(std::optional<int64_t> samples_per_epoch, const ShardInfo& shard);

// Samples per batch: 1 without a batch size, and never below 1.
int64_t batch_samples(std::optional<int64_t> batch_size);

// Whole batches only: the last samples % batch of a share are never made.
std::optional<int64_t> batches_for_worker(std::optional<int64_t> samples, int64_t batch);

// What one iteration of a worker makes: batches of `batch` samples, and how
// many (none for an endless stream).
struct IterationPlan {
  int64_t batch = 1;
  std::optional<int64_t> batches;
};

IterationPlan plan_iteration(std::optional<int64_t> samples_per_epoch, std::optional<int64_t> batch_size,
                             const ShardInfo& shard);

// The batches that one process's loader gets in an epoch from all its
// workers (one iteration in the process itself for 0 workers); none for an
// endless stream.
std::optional<int64_t> batches_for_process(std::optional<int64_t> samples_per_epoch,
                                           std::optional<int64_t> batch_size, int64_t rank, int64_t world_size,
                                           int64_t num_workers);

// A batch gets this many synthesis attempts in all, shared by its samples.
inline int64_t attempts_per_batch(int64_t batch) { return batch * 20; }

// Speaker counts drawn for a batch are brought into 1..4.
inline int64_t clamp_speaker_count(int64_t n) { return n < 1 ? 1 : (n > 4 ? 4 : n); }

// The first phase of speaker drawing gives up after this many tries.
inline int64_t speaker_tries_limit(int64_t num_spk) { return num_spk * 10 > 100 ? num_spk * 10 : 100; }

}  // namespace speech::mixsim
