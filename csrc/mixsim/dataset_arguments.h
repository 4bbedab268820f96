#pragma once
// The dataset's arguments that would otherwise be taken silently or fail far
// from their cause: each check throws ValueError naming its argument.
#include <cstdint>
#include <string>
#include <vector>

namespace speech::mixsim {

// The labels of the two speech corpora, in the order of the roots of
// speech_root: a combined speaker id is the label, "_" and the name of the
// speaker's folder.
constexpr const char* kCorpusLabels[] = {"libri", "wsj0"};

// A speaker enters the index with at least two utterances: a mixture of it
// with itself needs two.
inline bool keeps_speaker(int64_t files) { return files >= 2; }

// What the noise level may be set against, in the order they are compared:
// the first source as placed, or the sum of all speech.
constexpr const char* kSnrReferences[] = {"target", "speech"};

// At least one sample per second.
void check_target_sr(int64_t target_sr);

// Samples per segment: segment_seconds * target_sr to the nearest integer,
// halves to even. A segment must be finite and hold at least one sample.
int64_t segment_samples_for(double segment_seconds, int64_t target_sr);

// world_size >= 1 and 0 <= rank < world_size: a worker's share divides by
// the worker count, and a rank outside the world shares work with another.
void check_shard(int64_t rank, int64_t world_size);

// The speaker-count weights, in the mapping's order: finite, none below
// zero, and at least one above it.
void check_speaker_count_weights(const std::vector<double>& weights);

// Every random stream is seeded with seed + epoch * 10^9 + worker id, and a
// stream seeded with -k is the one seeded with k: a negative seed or epoch
// gives two workers or epochs the same samples. `shown` is the value as
// the caller wrote it.
void check_not_negative(bool negative, const char* name, const std::string& shown);

}  // namespace speech::mixsim
