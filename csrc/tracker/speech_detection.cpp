#include "tracker/speech_detection.h"

#include <algorithm>
#include <numeric>

#include "common/floor_div.h"

namespace speech::tracker {
namespace {

// Mean of squares of one frame, accumulated in T over eight interleaved
// partial sums (independent chains, so the loop pipelines and vectorises).
template <typename T>
T frame_energy(common::SampleView<const T> frame) {
  const int64_t length = frame.size();
  T partial[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  int64_t i = 0;
  if (frame.stride() == 1) {
    const T* x = frame.data();
    for (; i + 8 <= length; i += 8) {
      for (int k = 0; k < 8; ++k) partial[k] += x[i + k] * x[i + k];
    }
  }
  T sum = ((partial[0] + partial[1]) + (partial[2] + partial[3])) + ((partial[4] + partial[5]) + (partial[6] + partial[7]));
  for (; i < length; ++i) sum += frame[i] * frame[i];
  return sum / static_cast<T>(length);
}

double median_of(std::vector<double> values) {
  const size_t n = values.size();
  const size_t mid = n / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
  const double upper = values[mid];
  if (n % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
  return (lower + upper) / 2.0;
}

// Runs of speech frame indices, split where consecutive indices jump by more
// than `min_gap`; each run is (first, last).
std::vector<std::pair<int64_t, int64_t>> speech_runs(const std::vector<int64_t>& indices, int64_t min_gap) {
  std::vector<std::pair<int64_t, int64_t>> runs;
  int64_t first = indices.front();
  for (size_t i = 1; i < indices.size(); ++i) {
    if (indices[i] - indices[i - 1] > min_gap) {
      runs.emplace_back(first, indices[i - 1]);
      first = indices[i];
    }
  }
  runs.emplace_back(first, indices.back());
  return runs;
}

std::vector<std::pair<int64_t, int64_t>> widen_and_merge(const std::vector<std::pair<int64_t, int64_t>>& runs,
                                                         int64_t margin, int64_t num_frames) {
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& [first, last] : runs) {
    const int64_t start = std::max<int64_t>(0, first - margin);
    const int64_t end = std::min<int64_t>(num_frames - 1, last + margin);
    if (!merged.empty() && start <= merged.back().second + 1) {
      merged.back().second = std::max(merged.back().second, end);
    } else {
      merged.emplace_back(start, end);
    }
  }
  return merged;
}

}  // namespace

int64_t SpeechDetection::joined_length() const {
  int64_t total = 0;
  for (const auto& [begin, end] : ranges) total += end - begin;
  return total;
}

SpeechGate gate_speech(const SpeechDetection& detection, int64_t min_speech_samples,
                       const SpeechDetectionConfig& config) {
  if (detection.num_frames <= 0) return {};
  const int64_t counted = detection.speech_frame_count * config.hop_length;
  if (counted < min_speech_samples) return {false, counted};
  // Reachable only with a minimum of zero or less.
  if (detection.speech_frame_count == 0) return {};
  return {true, detection.joined_length()};
}

template <typename T>
std::vector<double> frame_energies(common::SampleView<const T> signal, const SpeechDetectionConfig& config) {
  const int64_t num_frames = common::floor_div(signal.size() - config.frame_length, config.hop_length) + 1;
  std::vector<double> energies(static_cast<size_t>(std::max<int64_t>(num_frames, 0)));
  for (int64_t f = 0; f < num_frames; ++f) {
    const common::SampleView<const T> frame = signal.subview(f * config.hop_length, config.frame_length);
    energies[static_cast<size_t>(f)] = static_cast<double>(frame_energy(frame));
  }
  return energies;
}

SpeechDetection detect_from_energies(const std::vector<double>& energies, int64_t size,
                                     const SpeechDetectionConfig& config) {
  SpeechDetection result;
  result.num_frames = common::floor_div(size - config.frame_length, config.hop_length) + 1;
  if (result.num_frames <= 0 || energies.empty()) return result;

  const double mean = std::accumulate(energies.begin(), energies.end(), 0.0) / static_cast<double>(energies.size());
  const double threshold =
      std::max({config.median_factor * median_of(energies), config.mean_factor * mean, config.threshold_floor});

  std::vector<int64_t> speech_indices;
  for (int64_t f = 0; f < result.num_frames; ++f) {
    if (energies[static_cast<size_t>(f)] > threshold) speech_indices.push_back(f);
  }
  result.speech_frame_count = static_cast<int64_t>(speech_indices.size());
  if (speech_indices.empty()) return result;

  const auto merged = widen_and_merge(speech_runs(speech_indices, config.min_gap_frames), config.margin_frames,
                                      result.num_frames);
  for (const auto& [s, e] : merged) {
    result.ranges.emplace_back(s * config.hop_length, std::min(e * config.hop_length + config.frame_length, size));
  }
  return result;
}

template <typename T>
SpeechDetection detect_speech(common::SampleView<const T> signal, const SpeechDetectionConfig& config) {
  return detect_from_energies(frame_energies(signal, config), signal.size(), config);
}

template <typename T>
std::vector<T> join_ranges(common::SampleView<const T> signal, const std::vector<std::pair<int64_t, int64_t>>& ranges) {
  std::vector<T> joined;
  for (const auto& [begin, end] : ranges) {
    for (int64_t i = begin; i < end; ++i) joined.push_back(signal[i]);
  }
  return joined;
}

using Ranges = std::vector<std::pair<int64_t, int64_t>>;
template std::vector<double> frame_energies<float>(common::SampleView<const float>, const SpeechDetectionConfig&);
template std::vector<double> frame_energies<double>(common::SampleView<const double>, const SpeechDetectionConfig&);
template SpeechDetection detect_speech<float>(common::SampleView<const float>, const SpeechDetectionConfig&);
template SpeechDetection detect_speech<double>(common::SampleView<const double>, const SpeechDetectionConfig&);
template std::vector<float> join_ranges<float>(common::SampleView<const float>, const Ranges&);
template std::vector<double> join_ranges<double>(common::SampleView<const double>, const Ranges&);

}  // namespace speech::tracker
