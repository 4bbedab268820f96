// The demonstration's run against a scripted loader and in-memory files:
// headings, the epoch set before each iteration, the step limit tested
// after each step, a failed save reported and passed over, and the files of
// each sample named by its ids and slots.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "mixsim/demo_run.h"

namespace speech::mixsim {
namespace {

class ScriptedRun final : public DemoSteps {
 public:
  int64_t batches_per_epoch = 5;
  std::vector<bool> save_fails;  // per step of every epoch, in order
  std::vector<std::string> events;

  void print(const std::string& line) override { events.push_back("print " + line); }
  void set_epoch(int64_t epoch) override { events.push_back("set_epoch " + std::to_string(epoch)); }
  void start_epoch() override {
    events.push_back("start");
    left_ = batches_per_epoch;
  }
  bool next_batch() override { return left_-- > 0; }
  void finish_epoch() override { events.push_back("finish"); }
  StepValues read_batch() override { return {2, "[5, 3]", "[2, 2]", "[]"}; }
  std::optional<std::string> save_batch(int64_t, int64_t, int64_t batch_size) override {
    events.push_back("save " + std::to_string(batch_size));
    const bool fails = saves_ < save_fails.size() && save_fails[saves_];
    ++saves_;
    if (fails) return std::string("not enough values to unpack (expected 3, got 2)");
    return std::nullopt;
  }

 private:
  int64_t left_ = 0;
  size_t saves_ = 0;
};

std::string step(int64_t epoch, int64_t i) {
  return "print [epoch " + std::to_string(epoch) + "] step " + std::to_string(i) +
         " | batch_size=2 | mixture_lens=[5, 3] | num_spk=[2, 2] | source_ids=[]";
}

struct LimitCase {
  const char* name;
  int64_t limit;
  int64_t steps;
};

class StepLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(StepLimit, IsTestedAfterEachStep) {
  const LimitCase c = GetParam();
  ScriptedRun run;
  run_epochs(run, 2, c.limit);
  std::vector<std::string> expected;
  for (int64_t epoch = 0; epoch < 2; ++epoch) {
    expected.push_back("print \n=== Epoch " + std::to_string(epoch) + " ===");
    expected.push_back("set_epoch " + std::to_string(epoch));
    expected.push_back("start");
    for (int64_t i = 0; i < c.steps; ++i) {
      expected.push_back(step(epoch, i));
      expected.push_back("save 2");
    }
    expected.push_back("finish");
  }
  expected.push_back("print Done.");
  EXPECT_EQ(run.events, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StepLimit,
                         ::testing::Values(LimitCase{"zero_is_one_step", 0, 1}, LimitCase{"two", 2, 2},
                                           LimitCase{"none", -1, 5}, LimitCase{"beyond_the_batches", 9, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DemoRun, NoEpochsIsDoneAtOnce) {
  ScriptedRun run;
  run_epochs(run, 0, 10);
  EXPECT_EQ(run.events, std::vector<std::string>{"print Done."});
}

TEST(DemoRun, AFailedSaveIsReportedAndTheStepStillCounts) {
  ScriptedRun run;
  run.batches_per_epoch = 3;
  run.save_fails = {false, true, false};
  run_epochs(run, 1, 2);
  const std::vector<std::string> expected = {
      "print \n=== Epoch 0 ===",
      "set_epoch 0",
      "start",
      step(0, 0),
      "save 2",
      step(0, 1),
      "save 2",
      "print [Warning] failed to save wavs at epoch 0 step 1: not enough values to unpack (expected 3, got 2)",
      "finish",
      "print Done."};
  EXPECT_EQ(run.events, expected);
}

// Samples whose ids, slots and source lengths are given; writing a file
// records its name.
class MemoryFiles final : public SampleFiles {
 public:
  std::vector<std::optional<std::vector<std::string>>> ids;
  bool sources = true;
  std::vector<std::vector<int64_t>> lengths;  // per sample, per slot
  std::vector<std::string> lines;

  std::optional<std::vector<std::string>> id_texts(int64_t j) override { return ids.at(static_cast<size_t>(j)); }
  std::optional<std::string> slot_id(int64_t j, int64_t k) override {
    const auto& sample = ids.at(static_cast<size_t>(j));
    if (!sample || static_cast<int64_t>(sample->size()) <= k) return std::nullopt;
    return (*sample)[static_cast<size_t>(k)];
  }
  std::string write_mixture(int64_t, const std::string& name) override { return "out/" + name; }
  bool has_sources() override { return sources; }
  int64_t slots() override { return static_cast<int64_t>(lengths.front().size()); }
  int64_t source_length(int64_t j, int64_t k) override {
    return lengths.at(static_cast<size_t>(j)).at(static_cast<size_t>(k));
  }
  std::string write_source(int64_t, int64_t, int64_t, const std::string& name) override { return "out/" + name; }
  void print(const std::string& line) override { lines.push_back(line); }
};

TEST(SampleFiles, NamedByIdsAndSlotsWithEmptySlotsSkipped) {
  MemoryFiles files;
  files.ids = {std::vector<std::string>{"libri_1"}, std::nullopt};
  files.lengths = {{4, 4, 0}, {4, -1, 4}};
  save_samples(files, 3, 12, 2);
  const std::vector<std::string> expected = {
      "Saved: out/epoch003_step000012_b0_sidslibri_1_mixture.wav, "
      "out/epoch003_step000012_b0_sidslibri_1_source0_sidlibri_1.wav, "
      "out/epoch003_step000012_b0_sidslibri_1_source1.wav",
      "Saved: out/epoch003_step000012_b1_mixture.wav, out/epoch003_step000012_b1_source0.wav, "
      "out/epoch003_step000012_b1_source2.wav"};
  EXPECT_EQ(files.lines, expected);
}

TEST(SampleFiles, WithoutSourcesOnlyTheMixture) {
  MemoryFiles files;
  files.ids = {std::vector<std::string>{}};
  files.sources = false;
  save_samples(files, 0, 0, 1);
  EXPECT_EQ(files.lines, std::vector<std::string>{"Saved: out/epoch000_step000000_b0_sids_mixture.wav"});
}

}  // namespace
}  // namespace speech::mixsim
