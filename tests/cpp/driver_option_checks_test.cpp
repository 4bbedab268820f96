#include "driver/option_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace speech::driver {
namespace {

NumericOption real(const char* flag, double value, const char* text) { return {flag, false, value, 0, text}; }
NumericOption integer(const char* flag, long value) { return {flag, true, 0.0, value, std::to_string(value)}; }

std::vector<NumericOption> defaults() {
  return {real("--multi_spks_threshold", 0.3, "0.3"), real("--seg_duration", 2.4, "2.4"),
          real("--hop_duration", 1.2, "1.2"), integer("--max_speakers", 4),
          real("--max_inter_sisdr_for_update", -10.0, "-10.0"), real("--merge_threshold", 0.5, "0.5")};
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
        Case{"hop_over_window", "--hop_duration", real("--hop_duration", 2.5, "2.5"),
             "argument --hop_duration: must not be longer than --seg_duration (2.5 > 2.4), or the windows leave gaps"},
        Case{"hop_equal_to_window", "--hop_duration", real("--hop_duration", 2.4, "2.4"), ""},
        Case{"no_speaker", "--max_speakers", integer("--max_speakers", 0),
             "argument --max_speakers: must be at least 1, got 0"},
        Case{"one_speaker", "--max_speakers", integer("--max_speakers", 1), ""},
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
