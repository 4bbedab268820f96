#include "mixsim/speaker_sampling.h"

#include "common/errors.h"
#include "mixsim/stream_plan.h"

namespace speech::mixsim {
namespace {

SpeakerPick pick_file_of(RandomDraws& rng, int64_t speaker) {
  return {speaker, rng.choice({Population::kSpeakerFiles, speaker})};
}

}  // namespace

std::vector<SpeakerPick> sample_speakers(RandomDraws& rng, int64_t num_spk,
                                         const std::function<int64_t()>& speaker_count) {
  std::vector<SpeakerPick> sampled;
  if (num_spk <= 0) return sampled;
  const int64_t speakers = speaker_count();
  if (speakers == 0) throw common::ValueError("No speakers to sample from.");
  std::vector<bool> accepted(static_cast<size_t>(speakers), false);
  int64_t distinct = 0;
  const int64_t tries_limit = speaker_tries_limit(num_spk);
  for (int64_t tries = 0; static_cast<int64_t>(sampled.size()) < num_spk && tries < tries_limit; ++tries) {
    const int64_t candidate = rng.choice({Population::kSpeakers, 0});
    const bool seen = accepted.at(static_cast<size_t>(candidate));
    if (seen && distinct < speakers) continue;
    sampled.push_back(pick_file_of(rng, candidate));
    if (!seen) ++distinct;
    accepted[static_cast<size_t>(candidate)] = true;
  }
  while (static_cast<int64_t>(sampled.size()) < num_spk) {
    sampled.push_back(pick_file_of(rng, rng.choice({Population::kSpeakers, 0})));
  }
  return sampled;
}

}  // namespace speech::mixsim
