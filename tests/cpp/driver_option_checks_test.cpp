#include "driver/option_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace speech::driver {
namespace {

NumericOption real(const char* flag, double value, const char* text) { return {flag, false, value, 0, text}; }
NumericOption integer(const char* flag, int64_t value) { return {flag, true, 0.0, value, std::to_string(value)}; }
// A value beyond 64 bits, as the binding hands it on: clamped to the bound it passes.
NumericOption beyond_64_bits(const char* flag, int64_t bound, const char* text) {
  return {flag, true, 0.0, bound, text, false};
}

std::vector<NumericOption> defaults() {
  return {real("--multi_spks_threshold", 0.3, "0.3"), real("--seg_duration", 2.4, "2.4"),
          real("--hop_duration", 1.2, "1.2"), integer("--max_speakers", 4),
          real("--short_speech_duration", 0.8, "0.8"), real("--max_inter_sisdr_for_update", -10.0, "-10.0"),
          real("--merge_threshold", 0.5, "0.5")};
}

struct Case {
  const char* name;
  const char* flag;
  NumericOption replacement;
  std::string problem;  // empty: accepted
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class OptionChecks : public ::testing::TestWithParam<Case> {};

TEST_P(OptionChecks, FirstProblemNamesTheOption) {
  std::vector<NumericOption> options = defaults();
  for (NumericOption& option : options) {
    if (option.flag == GetParam().flag) option = GetParam().replacement;
  }
  EXPECT_EQ(numeric_option_problem(options), GetParam().problem);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
const char* const kWindow = "must be a finite number of seconds greater than 0, got ";
const char* const kUnderOneSample = "must be at least one sample at 16000 Hz (6.25e-05 s), got ";
const char* const kCountOutOfRange = "must give a sample count at 16000 Hz that fits a 64-bit integer, got ";
// The longest duration whose samples at 16 kHz still fit a 64-bit count, and
// the next one written with as many digits.
constexpr double kLongestFitting = 576460752303423.4;
constexpr double kShortestTooLong = 576460752303423.5;

INSTANTIATE_TEST_SUITE_P(
    Table, OptionChecks,
    ::testing::Values(
        Case{"defaults", "--merge_threshold", real("--merge_threshold", 0.5, "0.5"), ""},
        Case{"zero_hop", "--hop_duration", real("--hop_duration", 0.0, "0.0"),
             std::string("argument --hop_duration: ") + kWindow + "0.0"},
        Case{"negative_hop", "--hop_duration", real("--hop_duration", -1.0, "-1.0"),
             std::string("argument --hop_duration: ") + kWindow + "-1.0"},
        Case{"nan_window", "--seg_duration", real("--seg_duration", std::nan(""), "nan"),
             std::string("argument --seg_duration: ") + kWindow + "nan"},
        Case{"infinite_window", "--seg_duration", real("--seg_duration", kInf, "inf"),
             std::string("argument --seg_duration: ") + kWindow + "inf"},
        Case{"window_under_one_sample", "--seg_duration", real("--seg_duration", 1e-300, "1e-300"),
             std::string("argument --seg_duration: ") + kUnderOneSample + "1e-300"},
        Case{"hop_under_one_sample", "--hop_duration", real("--hop_duration", 1e-6, "1e-06"),
             std::string("argument --hop_duration: ") + kUnderOneSample + "1e-06"},
        Case{"hop_just_under_one_sample", "--hop_duration",
             real("--hop_duration", std::nextafter(6.25e-05, 0.0), "6.249999999999999e-05"),
             std::string("argument --hop_duration: ") + kUnderOneSample + "6.249999999999999e-05"},
        Case{"hop_of_one_sample", "--hop_duration", real("--hop_duration", 6.25e-05, "6.25e-05"), ""},
        Case{"window_beyond_sample_counts", "--seg_duration", real("--seg_duration", 1e300, "1e+300"),
             std::string("argument --seg_duration: ") + kCountOutOfRange + "1e+300"},
        Case{"hop_beyond_sample_counts", "--hop_duration", real("--hop_duration", 1e300, "1e+300"),
             std::string("argument --hop_duration: ") + kCountOutOfRange + "1e+300"},
        Case{"longest_fitting_window", "--seg_duration",
             real("--seg_duration", kLongestFitting, "576460752303423.4"), ""},
        Case{"shortest_window_too_long", "--seg_duration",
             real("--seg_duration", kShortestTooLong, "576460752303423.5"),
             std::string("argument --seg_duration: ") + kCountOutOfRange + "576460752303423.5"},
        Case{"short_speech_beyond_sample_counts", "--short_speech_duration",
             real("--short_speech_duration", 1e308, "1e+308"),
             std::string("argument --short_speech_duration: ") + kCountOutOfRange + "1e+308"},
        Case{"short_speech_far_below_zero", "--short_speech_duration",
             real("--short_speech_duration", -1e300, "-1e+300"),
             std::string("argument --short_speech_duration: ") + kCountOutOfRange + "-1e+300"},
        // No speech is shorter than these: the threshold is never lowered.
        Case{"short_speech_zero", "--short_speech_duration", real("--short_speech_duration", 0.0, "0.0"), ""},
        Case{"short_speech_under_one_sample", "--short_speech_duration",
             real("--short_speech_duration", 1e-6, "1e-06"), ""},
        Case{"short_speech_negative", "--short_speech_duration", real("--short_speech_duration", -1.0, "-1.0"), ""},
        Case{"infinite_short_speech", "--short_speech_duration", real("--short_speech_duration", kInf, "inf"),
             "argument --short_speech_duration: must be a finite number, got inf"},
        Case{"hop_over_window", "--hop_duration", real("--hop_duration", 2.5, "2.5"),
             "argument --hop_duration: must not be longer than --seg_duration (2.5 > 2.4), or the windows leave gaps"},
        Case{"hop_equal_to_window", "--hop_duration", real("--hop_duration", 2.4, "2.4"), ""},
        Case{"no_speaker", "--max_speakers", integer("--max_speakers", 0),
             "argument --max_speakers: must be at least 1, got 0"},
        Case{"one_speaker", "--max_speakers", integer("--max_speakers", 1), ""},
        Case{"most_speakers", "--max_speakers", integer("--max_speakers", std::numeric_limits<int64_t>::max()), ""},
        Case{"speakers_beyond_64_bits", "--max_speakers",
             beyond_64_bits("--max_speakers", std::numeric_limits<int64_t>::max(), "99999999999999999999"),
             "argument --max_speakers: must fit a 64-bit integer (at most 9223372036854775807), got "
             "99999999999999999999"},
        Case{"speakers_below_64_bits", "--max_speakers",
             beyond_64_bits("--max_speakers", std::numeric_limits<int64_t>::min(), "-99999999999999999999"),
             "argument --max_speakers: must be at least 1, got -99999999999999999999"},
        Case{"nan_threshold", "--multi_spks_threshold", real("--multi_spks_threshold", std::nan(""), "nan"),
             "argument --multi_spks_threshold: must be a finite number, got nan"},
        Case{"infinite_threshold", "--max_inter_sisdr_for_update",
             real("--max_inter_sisdr_for_update", -kInf, "-inf"),
             "argument --max_inter_sisdr_for_update: must be a finite number, got -inf"},
        Case{"negative_threshold", "--merge_threshold", real("--merge_threshold", -3.0, "-3.0"), ""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(OptionChecks, OptionOrderDecidesWhichProblemIsNamed) {
  std::vector<NumericOption> options = defaults();
  options[0] = real("--multi_spks_threshold", std::nan(""), "nan");
  options[2] = real("--hop_duration", 0.0, "0.0");
  EXPECT_EQ(numeric_option_problem(options), "argument --multi_spks_threshold: must be a finite number, got nan");
}

}  // namespace
}  // namespace speech::driver
