#pragma once
// The one line a worker's stream prints when a batch cannot be filled
// within its attempts and the stream ends there: without it a training
// program could not tell a starved epoch from a finished one.
#include <cstdint>
#include <optional>
#include <string>

#include "mixsim/batch_stream.h"

namespace speech::mixsim {

struct ShortEpoch {
  std::string epoch;      // in its text form: the field may hold any integer
  int64_t worker = 0;     // the loader worker within its process
  int64_t rank = 0;
  int64_t batch = 0;      // the batch that could not be filled, counted from 0
  int64_t samples = 1;    // the samples it was to hold
  BatchFill fill;
  std::optional<int64_t> batches;  // the batches the epoch was to reach; none when endless
};

// "[Warning] short epoch E on worker W, rank R: batch B got M of N samples,
// F of its A attempts failed; ..." and how far the epoch came.
std::string short_epoch_line(const ShortEpoch& end);

}  // namespace speech::mixsim
