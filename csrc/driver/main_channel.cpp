#include "driver/main_channel.h"

#include "common/errors.h"
#include "common/number_format.h"

namespace speech::driver {
namespace {

// max() over the energies as the interpreter's max() runs it: a later value
// replaces the current one only when it compares greater.
double max_energy_of(const std::vector<StreamStats>& stats) {
  double best = stats.front().mean_energy;
  for (const StreamStats& s : stats) {
    if (s.mean_energy > best) best = s.mean_energy;
  }
  return best;
}

// Longest speech first, then higher energy; the earlier stream wins full ties.
bool ranks_above(const StreamStats& a, const StreamStats& b) {
  if (a.speech_dur != b.speech_dur) return a.speech_dur > b.speech_dur;
  return a.mean_energy > b.mean_energy;
}

}  // namespace

void check_energy_close_ratio(double energy_close_ratio) {
  if (!(energy_close_ratio <= 1.0)) {
    throw common::ValueError("energy_close_ratio must be at most 1, got " + common::format_repr(energy_close_ratio));
  }
}

ChannelDecision decide_main_channel(const std::vector<StreamStats>& stats, double energy_close_ratio) {
  check_energy_close_ratio(energy_close_ratio);
  ChannelDecision decision;
  if (stats.empty()) return decision;
  const double max_energy = max_energy_of(stats);
  if (max_energy <= 0.0) return decision;
  decision.has_speech = true;
  decision.energy_thresh = max_energy * energy_close_ratio;
  for (size_t i = 0; i < stats.size(); ++i) {
    if (stats[i].mean_energy >= decision.energy_thresh) decision.candidates.push_back(i);
  }
  if (decision.candidates.empty()) {
    throw common::ValueError("no stream reaches the energy threshold " + common::format_exp(decision.energy_thresh, 6));
  }
  decision.best = decision.candidates.front();
  for (const size_t i : decision.candidates) {
    if (ranks_above(stats[i], stats[decision.best])) decision.best = i;
  }
  return decision;
}

std::string main_channel_header() {
  return "\n=== 主通道判别（基于silero_vad：能量优先 + 时长兜底） ===";
}

std::string vad_load_message() { return "加载silero_vad模型..."; }

std::string stream_stats_line(const StreamStats& s) {
  return "  说话人" + s.id + ": 语音时长=" + common::format_fixed(s.speech_dur, 2) + "s, 平均能量=" +
         common::format_exp(s.mean_energy, 6);
}

std::string no_speech_warning() { return "  [警告] 所有通道均未检测到有效语音"; }

std::string threshold_line(const std::vector<StreamStats>& stats, const ChannelDecision& decision,
                           double energy_close_ratio) {
  std::string ids;
  for (const size_t i : decision.candidates) {
    if (!ids.empty()) ids += ", ";
    ids += stats[i].id;
  }
  return "  能量阈值=" + common::format_exp(decision.energy_thresh, 6) + " (= " + common::format_fixed(energy_close_ratio, 2) +
         " * max_energy)，候选通道=[" + ids + "]";
}

std::string decision_line(const std::vector<StreamStats>& stats, const ChannelDecision& decision) {
  const StreamStats& best = stats[decision.best];
  if (decision.candidates.size() == 1) {
    return "  -> 主通道: 说话人" + best.id + " (能量明显最大=" + common::format_exp(best.mean_energy, 6) +
           ", 时长=" + common::format_fixed(best.speech_dur, 2) + "s)";
  }
  return "  -> 主通道: 说话人" + best.id + " (能量接近的候选中时长最长: 时长=" + common::format_fixed(best.speech_dur, 2) +
         "s, 能量=" + common::format_exp(best.mean_energy, 6) + ")";
}

}  // namespace speech::driver
