#include "mixsim/short_epoch.h"

namespace speech::mixsim {

std::string short_epoch_line(const ShortEpoch& end) {
  const std::string batches = std::to_string(end.batch) + (end.batch == 1 ? " batch" : " batches");
  std::string line = "[Warning] short epoch " + end.epoch + " on worker " + std::to_string(end.worker) + ", rank " +
                     std::to_string(end.rank) + ": batch " + std::to_string(end.batch) + " got " +
                     std::to_string(end.fill.made) + " of " + std::to_string(end.samples) + " samples, " +
                     std::to_string(end.fill.failed()) + " of its " + std::to_string(end.fill.attempts) +
                     " attempts failed; ";
  if (!end.batches) return line + "the endless stream ends after " + batches;
  return line + "the stream ends after " + std::to_string(end.batch) + " of the " + std::to_string(*end.batches) +
         " batches it was to yield";
}

}  // namespace speech::mixsim
