#pragma once
// What makes a separated signal's embedding untrustworthy: poor separation
// (it still holds much of another kept signal of its window) and too little
// detected speech. Matching lowers its bars and refuses new speakers for
// such signals; the update strategies refuse poorly separated ones.
#include <optional>

namespace speech::tracker {

// Quality strictly above the limit; no quality, or NaN, is never poor.
inline bool is_poorly_separated(std::optional<double> quality_db, double max_inter_sisdr) {
  return quality_db && *quality_db > max_inter_sisdr;
}

// Fewer detected speech samples than the limit; no count is never short.
inline bool is_short_speech(std::optional<double> speech_samples, double short_speech_samples) {
  return speech_samples && *speech_samples < short_speech_samples;
}

}  // namespace speech::tracker
