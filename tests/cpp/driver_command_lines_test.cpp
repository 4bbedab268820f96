// Both drivers offer the window, tracker and threshold options in the same
// order with the same defaults, and the numeric ones are those whose values
// the start-up checks judge.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/command_line_options.h"
#include "driver/command_line.h"
#include "triage/options.h"

namespace speech::driver {
namespace {

const std::vector<std::string> kShared = {
    "--seg_duration",          "--hop_duration",          "--max_speakers",
    "--wespeaker_model",       "--similarity_threshold",  "--low_similarity_threshold",
    "--short_speech_duration", "--short_speech_threshold_drop", "--max_inter_sisdr_for_update",
    "--sisdr_threshold",       "--sisdr_threshold_prev",  "--merge_threshold"};

std::vector<common::CommandLineOption> shared_of(const common::CommandLine& command_line) {
  std::vector<common::CommandLineOption> shared;
  for (const common::CommandLineOption& option : command_line.options) {
    for (const std::string& flag : kShared) {
      if (option.flag == flag) shared.push_back(option);
    }
  }
  return shared;
}

TEST(DriverCommandLines, SharedOptionsAgreeInOrderTypeAndDefault) {
  const std::vector<common::CommandLineOption> lead = shared_of(driver_command_line());
  const std::vector<common::CommandLineOption> triage = shared_of(triage::triage_command_line());
  ASSERT_EQ(lead.size(), kShared.size());
  ASSERT_EQ(triage.size(), kShared.size());
  for (size_t i = 0; i < kShared.size(); ++i) {
    EXPECT_EQ(lead[i].flag, kShared[i]);
    EXPECT_EQ(triage[i].flag, kShared[i]);
    EXPECT_EQ(lead[i].type, triage[i].type) << kShared[i];
    EXPECT_EQ(lead[i].default_kind, triage[i].default_kind) << kShared[i];
    EXPECT_EQ(lead[i].real_default, triage[i].real_default) << kShared[i];
    EXPECT_EQ(lead[i].integer_default, triage[i].integer_default) << kShared[i];
    EXPECT_EQ(lead[i].text_default, triage[i].text_default) << kShared[i];
  }
}

TEST(DriverCommandLines, CountsAndNumericOptions) {
  EXPECT_EQ(driver_command_line().options.size(), 20u);
  EXPECT_EQ(triage::triage_command_line().options.size(), 19u);
  std::vector<std::string> triage_numeric;
  for (const common::CommandLineOption& option : triage::triage_command_line().options) {
    if (option.is_numeric()) triage_numeric.push_back(option.dest());
  }
  EXPECT_EQ(triage_numeric,
            (std::vector<std::string>{"multi_spks_threshold", "seg_duration", "hop_duration", "max_speakers",
                                      "similarity_threshold", "low_similarity_threshold", "short_speech_duration",
                                      "short_speech_threshold_drop", "max_inter_sisdr_for_update",
                                      "sisdr_threshold", "sisdr_threshold_prev", "merge_threshold"}));
}

TEST(CommandLineOption, DestAsArgparseDerivesIt) {
  EXPECT_EQ(common::real_option("--hop_duration", 1.0).dest(), "hop_duration");
  EXPECT_EQ(common::flag_option("--dry-run", "").dest(), "dry_run");
  EXPECT_EQ(common::flag_option("-v", "").dest(), "v");
}

}  // namespace
}  // namespace speech::driver
