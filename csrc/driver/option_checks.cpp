#include "driver/option_checks.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "common/number_format.h"
#include "driver/recording_input.h"

namespace speech::driver {
namespace {

constexpr const char* kSegFlag = "--seg_duration";
constexpr const char* kHopFlag = "--hop_duration";
constexpr const char* kShortSpeechFlag = "--short_speech_duration";
constexpr const char* kMaxSpeakersFlag = "--max_speakers";

bool is_window_length(const std::string& flag) { return flag == kSegFlag || flag == kHopFlag; }
bool is_duration(const std::string& flag) { return is_window_length(flag) || flag == kShortSpeechFlag; }

std::string argument(const std::string& flag) { return "argument " + flag + ": "; }

// Seconds become samples as the core turns them: the product with the rate,
// truncated toward zero into a 64-bit count.
double sample_product(double seconds) { return seconds * static_cast<double>(kModelRate); }

bool fits_sample_count(double seconds) {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  const double product = sample_product(seconds);
  return product >= -kLimit && product < kLimit;
}

std::string rate_text() { return std::to_string(kModelRate) + " Hz"; }

std::string duration_problem(const NumericOption& option) {
  const double value = option.real;
  if (!fits_sample_count(value)) {
    return argument(option.flag) + "must give a sample count at " + rate_text() +
           " that fits a 64-bit integer, got " + option.text;
  }
  if (is_window_length(option.flag) && sample_product(value) < 1.0) {
    return argument(option.flag) + "must be at least one sample at " + rate_text() + " (" +
           common::format_repr(1.0 / static_cast<double>(kModelRate)) + " s), got " + option.text;
  }
  return "";
}

// The core takes every count as a 64-bit integer: a larger one could only
// fail later, once files are made and models loaded.
std::string integer_problem(const NumericOption& option) {
  if (option.flag == kMaxSpeakersFlag && option.integer_value < 1) {
    return argument(option.flag) + "must be at least 1, got " + option.text;
  }
  if (!option.integer_fits) {
    return argument(option.flag) + "must fit a 64-bit integer (at most " +
           std::to_string(std::numeric_limits<int64_t>::max()) + "), got " + option.text;
  }
  return "";
}

std::string problem_of(const NumericOption& option) {
  if (option.integer) return integer_problem(option);
  const double value = option.real;
  if (is_window_length(option.flag) && !(std::isfinite(value) && value > 0.0)) {
    return argument(option.flag) + "must be a finite number of seconds greater than 0, got " + option.text;
  }
  if (!std::isfinite(value)) return argument(option.flag) + "must be a finite number, got " + option.text;
  return is_duration(option.flag) ? duration_problem(option) : "";
}

const NumericOption* find(const std::vector<NumericOption>& options, const char* flag) {
  for (const NumericOption& option : options) {
    if (option.flag == flag && !option.integer) return &option;
  }
  return nullptr;
}

}  // namespace

std::string numeric_option_problem(const std::vector<NumericOption>& options) {
  for (const NumericOption& option : options) {
    std::string problem = problem_of(option);
    if (!problem.empty()) return problem;
  }
  const NumericOption* seg = find(options, kSegFlag);
  const NumericOption* hop = find(options, kHopFlag);
  if (seg && hop && hop->real > seg->real) {
    return argument(kHopFlag) + "must not be longer than " + kSegFlag + " (" + hop->text + " > " + seg->text +
           "), or the windows leave gaps";
  }
  return "";
}

}  // namespace speech::driver
