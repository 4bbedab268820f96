#pragma once
// The main-speaker rule: energy first, duration as the fallback among streams
// whose speech energy comes close to the loudest one's.
#include <cstddef>
#include <string>
#include <vector>

namespace speech::driver {

struct StreamStats {
  std::string id;  // the global speaker id as printed
  double mean_energy = 0.0;
  double speech_dur = 0.0;
};

struct ChannelDecision {
  bool has_speech = false;             // false: no stream has energy above zero
  double energy_thresh = 0.0;
  std::vector<size_t> candidates;      // indices into the stats, in their order
  size_t best = 0;                     // index into the stats of the winner
};

// Throws ValueError for a ratio above 1 (or NaN), which would leave the loudest
// stream itself below the bar; checked before any stream is measured.
void check_energy_close_ratio(double energy_close_ratio);

ChannelDecision decide_main_channel(const std::vector<StreamStats>& stats, double energy_close_ratio);

// The printed lines of the choice.
std::string main_channel_header();
std::string vad_load_message();
std::string stream_stats_line(const StreamStats& stats);
std::string no_speech_warning();
std::string threshold_line(const std::vector<StreamStats>& stats, const ChannelDecision& decision,
                           double energy_close_ratio);
std::string decision_line(const std::vector<StreamStats>& stats, const ChannelDecision& decision);

}  // namespace speech::driver
