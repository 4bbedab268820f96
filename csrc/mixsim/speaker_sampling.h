#pragma once
// The speakers of one training mixture and one utterance of each, drawn from
// the speaker index: distinct speakers while the index still has speakers not
// yet drawn, within a bounded number of tries; then a fill-up phase, so the
// result always has the length asked for.
#include <cstdint>
#include <functional>
#include <vector>

#include "mixsim/random_draws.h"

namespace speech::mixsim {

struct SpeakerPick {
  int64_t speaker = 0;  // index into the speaker ids
  int64_t file = 0;     // index into that speaker's files
};

// `num_spk` picks (none for 0 or less: nothing is drawn and `speaker_count`
// is not asked). ValueError "No speakers to sample from." when the index is
// empty. Every draw is a choice over the speakers, then, for an accepted
// one, a choice over its files; a speaker already accepted is taken again
// only once every speaker has been.
std::vector<SpeakerPick> sample_speakers(RandomDraws& rng, int64_t num_spk,
                                         const std::function<int64_t()>& speaker_count);

}  // namespace speech::mixsim
