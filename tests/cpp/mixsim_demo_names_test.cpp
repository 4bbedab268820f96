#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "mixsim/demo_output_names.h"

namespace speech::mixsim {
namespace {

class BaseName : public ::testing::TestWithParam<std::tuple<int64_t, int64_t, int64_t, const char*>> {};

TEST_P(BaseName, PadsEpochToThreeAndStepToSixDigits) {
  const auto [epoch, step, sample, expected] = GetParam();
  EXPECT_EQ(sample_base_name(epoch, step, sample), expected);
}

INSTANTIATE_TEST_SUITE_P(Names, BaseName,
                         ::testing::Values(std::make_tuple(3, 12, 0, "epoch003_step000012_b0"),
                                           std::make_tuple(0, 0, 11, "epoch000_step000000_b11"),
                                           std::make_tuple(1234, 1234567, 2, "epoch1234_step1234567_b2")));

TEST(FileNames, IdsTagTheBaseAndEachSlot) {
  const std::string base = with_id_tag("epoch000_step000001_b0", {"libri_19", "wsj0_a"});
  EXPECT_EQ(base, "epoch000_step000001_b0_sidslibri_19_wsj0_a");
  EXPECT_EQ(with_id_tag("b", {}), "b_sids");
  EXPECT_EQ(mixture_file_name(base), base + "_mixture.wav");
  EXPECT_EQ(source_file_name(base, 1, std::string("wsj0_a")), base + "_source1_sidwsj0_a.wav");
  EXPECT_EQ(source_file_name("b", 2, std::nullopt), "b_source2.wav");
}

TEST(ConsoleLines, Texts) {
  EXPECT_EQ(epoch_heading(1), "\n=== Epoch 1 ===");
  EXPECT_EQ(step_line(0, 3, "2", "[5, 3]", "[2, 2]", "[]"),
            "[epoch 0] step 3 | batch_size=2 | mixture_lens=[5, 3] | num_spk=[2, 2] | source_ids=[]");
  EXPECT_EQ(saved_line({"a.wav", "b.wav"}), "Saved: a.wav, b.wav");
  EXPECT_EQ(save_failure_line(1, 4, "boom"), "[Warning] failed to save wavs at epoch 1 step 4: boom");
}

}  // namespace
}  // namespace speech::mixsim
