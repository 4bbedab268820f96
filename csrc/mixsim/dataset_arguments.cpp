#include "mixsim/dataset_arguments.h"

#include <cmath>

#include "common/errors.h"
#include "common/number_format.h"
#include "mixsim/stream_plan.h"

namespace speech::mixsim {
namespace {

// Far beyond any memory, and within the doubles that convert to integers
// exactly.
constexpr double kMostSegmentSamples = 9.0e15;

}  // namespace

void check_target_sr(int64_t target_sr) {
  if (target_sr < 1) {
    throw common::ValueError("target_sr must be a positive sample rate in Hz, got " + std::to_string(target_sr));
  }
}

int64_t segment_samples_for(double segment_seconds, int64_t target_sr) {
  const double product = segment_seconds * static_cast<double>(target_sr);
  if (!std::isfinite(segment_seconds) || !(product < kMostSegmentSamples) || round_half_even(product) < 1) {
    throw common::ValueError("segment_seconds must be a finite length that holds at least one sample at " +
                     std::to_string(target_sr) + " Hz, got " + common::format_repr(segment_seconds));
  }
  return round_half_even(product);
}

void check_shard(int64_t rank, int64_t world_size) {
  if (world_size < 1) {
    throw common::ValueError("world_size must be at least 1 (the number of training processes), got " +
                     std::to_string(world_size));
  }
  if (rank < 0 || rank >= world_size) {
    throw common::ValueError("rank must lie in [0, world_size) = [0, " + std::to_string(world_size) + "), got " +
                     std::to_string(rank));
  }
}

void check_speaker_count_weights(const std::vector<double>& weights) {
  bool any_positive = false;
  for (const double w : weights) {
    if (!std::isfinite(w) || w < 0.0) {
      throw common::ValueError("speaker_count_probs weights must be finite and not negative, got " + common::format_repr(w));
    }
    any_positive = any_positive || w > 0.0;
  }
  if (!any_positive) throw common::ValueError("speaker_count_probs must give at least one speaker count a positive weight");
}

void check_not_negative(bool negative, const char* name, const std::string& shown) {
  if (negative) {
    throw common::ValueError(std::string(name) + " must not be negative (a random stream seeded with -k is the one "
                     "seeded with k), got " + shown);
  }
}

}  // namespace speech::mixsim
