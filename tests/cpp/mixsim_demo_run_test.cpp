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
  std::vector<int64_t> batches_by_epoch;  // in place of batches_per_epoch, when given
  std::vector<bool> save_fails;  // per step of every epoch, in order
  std::vector<std::string> events;

  void print(const std::string& line) override { events.push_back("print " + line); }
  void set_epoch(int64_t epoch) override { events.push_back("set_epoch " + std::to_string(epoch)); }
  void start_epoch() override {
    events.push_back("start");
    left_ = batches_by_epoch.empty() ? batches_per_epoch : batches_by_epoch.at(epochs_++);
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
  size_t epochs_ = 0;
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
  run_epochs(run, 2, c.limit, run.batches_per_epoch);
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
  run_epochs(run, 0, 10, std::nullopt);
  EXPECT_EQ(run.events, std::vector<std::string>{"print Done."});
}

TEST(DemoRun, AFailedSaveIsReportedAndTheStepStillCounts) {
  ScriptedRun run;
  run.batches_per_epoch = 3;
  run.save_fails = {false, true, false};
  run_epochs(run, 1, 2, std::nullopt);
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

TEST(DemoRun, StepsAskedAreTheLimitOrTheEpochsBatchesWhicheverIsFewer) {
  EXPECT_EQ(steps_asked(10, std::nullopt), 10);
  EXPECT_EQ(steps_asked(0, std::nullopt), 1);  // the limit is tested after a step
  EXPECT_EQ(steps_asked(10, 4), 4);
  EXPECT_EQ(steps_asked(3, 4), 3);
  EXPECT_EQ(steps_asked(-1, 4), 4);
  EXPECT_EQ(steps_asked(5, 0), 0);
  EXPECT_FALSE(steps_asked(-1, std::nullopt).has_value());
}

struct ShortCase {
  const char* name;
  int64_t limit;
  std::optional<int64_t> epoch_batches;
  std::vector<int64_t> batches_by_epoch;  // what the loader gives
  std::vector<std::string> closing;       // the lines before "Done."
};

class ShortEpochs : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortEpochs, AreNamedInTheClosingLines) {
  const ShortCase c = GetParam();
  ScriptedRun run;
  run.batches_by_epoch = c.batches_by_epoch;
  const int64_t epochs = static_cast<int64_t>(c.batches_by_epoch.size());
  run_epochs(run, epochs, c.limit, c.epoch_batches);
  std::vector<std::string> closing(run.events.end() - static_cast<int64_t>(c.closing.size()) - 1, run.events.end());
  std::vector<std::string> expected;
  for (const std::string& line : c.closing) expected.push_back("print " + line);
  expected.push_back("print Done.");
  EXPECT_EQ(closing, expected);
  // Each epoch ends with its iteration let go, the closing lines after the last.
  EXPECT_EQ(*(run.events.end() - static_cast<int64_t>(c.closing.size()) - 2), "finish");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortEpochs,
    ::testing::Values(
        ShortCase{"every_epoch_full", 4, std::nullopt, {4, 6}, {}},
        ShortCase{"endless_under_a_limit", 4, std::nullopt, {3, 4, 0},
                  {"[Warning] epoch 0 made 3 of 4 steps", "[Warning] epoch 2 made 0 of 4 steps"}},
        ShortCase{"finite_without_a_limit", -1, 5, {5, 2}, {"[Warning] epoch 1 made 2 of 5 steps"}},
        // A finite epoch that ends before the limit is not short.
        ShortCase{"finite_under_a_larger_limit", 10, 5, {5, 5}, {}},
        ShortCase{"endless_without_a_limit", -1, std::nullopt, {13, 1},
                  {"[Warning] epoch 0 made 13 steps; the endless stream ended",
                   "[Warning] epoch 1 made 1 step; the endless stream ended"}},
        ShortCase{"an_empty_epoch_asked_for_nothing", 10, 0, {0}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

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
