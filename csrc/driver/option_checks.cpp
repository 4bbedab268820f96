#include "driver/option_checks.h"

#include <cmath>

namespace speech::driver {
namespace {

constexpr const char* kSegFlag = "--seg_duration";
constexpr const char* kHopFlag = "--hop_duration";
constexpr const char* kMaxSpeakersFlag = "--max_speakers";

bool is_window_length(const std::string& flag) { return flag == kSegFlag || flag == kHopFlag; }

std::string argument(const std::string& flag) { return "argument " + flag + ": "; }

std::string problem_of(const NumericOption& option) {
  if (option.integer) {
    if (option.flag == kMaxSpeakersFlag && option.integer_value < 1) {
      return argument(option.flag) + "must be at least 1, got " + option.text;
    }
    return "";
  }
  const double value = option.real;
  if (is_window_length(option.flag)) {
    if (!(std::isfinite(value) && value > 0.0)) {
      return argument(option.flag) + "must be a finite number of seconds greater than 0, got " + option.text;
    }
    return "";
  }
  if (!std::isfinite(value)) return argument(option.flag) + "must be a finite number, got " + option.text;
  return "";
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
