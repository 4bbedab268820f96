#include "mixsim/stream_plan.h"

#include <cmath>
#include <string>

#include "common/errors.h"
#include "common/floor_div.h"
#include "mixsim/dataset_arguments.h"

namespace speech::mixsim {

int64_t round_half_even(double x) {
  // The default rounding mode is to nearest, ties to even.
  return static_cast<int64_t>(std::nearbyint(x));
}

ShardInfo shard_info(int64_t rank, int64_t world_size, int64_t worker_id, int64_t num_workers) {
  // The fields may have been changed since construction checked them.
  check_shard(rank, world_size);
  return {rank + worker_id * world_size, world_size * num_workers};
}

int64_t loader_worker(const ShardInfo& shard, int64_t rank, int64_t world_size) {
  if (world_size < 1) return shard.global_worker_id;
  return common::floor_div(shard.global_worker_id - rank, world_size);
}

std::optional<int64_t> samples_for_worker(std::optional<int64_t> samples_per_epoch, const ShardInfo& shard) {
  if (!samples_per_epoch) return std::nullopt;
  if (shard.global_worker_count < 1) {
    throw common::ValueError("the global worker count must be at least 1, got " + std::to_string(shard.global_worker_count));
  }
  int64_t per = common::floor_div(*samples_per_epoch, shard.global_worker_count);
  const int64_t rem = common::floor_mod(*samples_per_epoch, shard.global_worker_count);
  if (shard.global_worker_id < rem) per += 1;
  return per;
}

int64_t batch_samples(std::optional<int64_t> batch_size) {
  if (!batch_size) return 1;
  return *batch_size > 1 ? *batch_size : 1;
}

std::optional<int64_t> batches_for_worker(std::optional<int64_t> samples, int64_t batch) {
  if (!samples) return std::nullopt;
  return common::floor_div(*samples, batch);
}

IterationPlan plan_iteration(std::optional<int64_t> samples_per_epoch, std::optional<int64_t> batch_size,
                             const ShardInfo& shard) {
  IterationPlan plan;
  const std::optional<int64_t> samples = samples_for_worker(samples_per_epoch, shard);
  plan.batch = batch_samples(batch_size);
  plan.batches = batches_for_worker(samples, plan.batch);
  return plan;
}

std::optional<int64_t> batches_for_process(std::optional<int64_t> samples_per_epoch,
                                           std::optional<int64_t> batch_size, int64_t rank, int64_t world_size,
                                           int64_t num_workers) {
  if (!samples_per_epoch) return std::nullopt;
  const int64_t workers = num_workers > 0 ? num_workers : 1;
  int64_t total = 0;
  for (int64_t w = 0; w < workers; ++w) {
    total += *plan_iteration(samples_per_epoch, batch_size, shard_info(rank, world_size, w, workers)).batches;
  }
  return total;
}

}  // namespace speech::mixsim
