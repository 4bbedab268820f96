// One batch of the training stream against scripted streams: the switches
// and the speaker count drawn from its batch stream, the seeds of its sample
// streams, and the attempts its samples share.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "mixsim/batch_stream.h"
#include "mixsim/short_epoch.h"
#include "mixsim/stream_plan.h"
#include "scripted_draws.h"

namespace speech::mixsim {
namespace {

class FakeBatch final : public BatchSteps {
 public:
  explicit FakeBatch(std::shared_ptr<DrawLog> log) : log_(std::move(log)), batch_rng_("batch", log_) {}

  std::vector<double> batch_script;
  bool rooms = true, noise = true;
  double rir_prob = 0.8, noise_prob = 0.8;
  std::vector<int64_t> counts{1, 2, 3, 4};
  std::deque<bool> outcomes;  // of the attempts, in order; past them every attempt succeeds

  RandomDraws& start_batch_stream(int64_t offset) override {
    note("start_batch_stream(" + std::to_string(offset) + ")");
    batch_rng_ = ScriptedDraws("batch", log_, batch_script);
    return batch_rng_;
  }
  void start_sample_stream(int64_t offset) override { note("start_sample_stream(" + std::to_string(offset) + ")"); }
  bool has_rooms() override { return rooms; }
  double rir_probability() override { return rir_prob; }
  bool has_noise_files() override { return noise; }
  double noise_probability() override { return noise_prob; }
  int64_t speaker_count(int64_t index) override { return counts.at(static_cast<size_t>(index)); }
  bool attempt(const BatchSwitches& batch) override {
    note("attempt(" + std::to_string(batch.num_speakers) + ")");
    if (outcomes.empty()) return true;
    const bool made = outcomes.front();
    outcomes.pop_front();
    return made;
  }

 private:
  void note(const std::string& call) { log_->push_back(call); }

  std::shared_ptr<DrawLog> log_;
  ScriptedDraws batch_rng_;
};

struct SwitchCase {
  const char* name;
  bool rooms, noise;
  std::vector<double> script;
  std::vector<int64_t> counts;
  bool apply_rir, apply_noise;
  int64_t speakers;
  std::vector<std::string> draws;
};

class BatchSwitchDraws : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(BatchSwitchDraws, FromTheBatchStreamInOrder) {
  const SwitchCase c = GetParam();
  auto log = std::make_shared<DrawLog>();
  FakeBatch steps(log);
  steps.rooms = c.rooms;
  steps.noise = c.noise;
  steps.batch_script = c.script;
  steps.counts = c.counts;
  const BatchSwitches batch = start_batch(steps, 7);
  EXPECT_EQ(batch.apply_rir, c.apply_rir);
  EXPECT_EQ(batch.apply_noise, c.apply_noise);
  EXPECT_EQ(batch.num_speakers, c.speakers);
  std::vector<std::string> expected{"start_batch_stream(7)"};
  expected.insert(expected.end(), c.draws.begin(), c.draws.end());
  EXPECT_EQ(*log, expected);
}

const char* const kRandom = "batch.random()";
const char* const kCounts = "batch.choices(speaker counts)";

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchSwitchDraws,
    ::testing::Values(
        // A draw equal to the probability counts as on.
        SwitchCase{"both_on", true, true, {0.8, 0.3, 2}, {1, 2, 3, 4}, true, true, 3, {kRandom, kRandom, kCounts}},
        SwitchCase{"both_off", true, true, {0.81, 0.9, 0}, {1, 2, 3, 4}, false, false, 1, {kRandom, kRandom, kCounts}},
        // Without rooms the first draw decides the noise.
        SwitchCase{"no_rooms", false, true, {0.1, 1}, {1, 2, 3, 4}, false, true, 2, {kRandom, kCounts}},
        SwitchCase{"nothing_to_switch", false, false, {0}, {6, 0}, false, false, 4, {kCounts}},
        SwitchCase{"count_raised", false, false, {1}, {6, 0}, false, false, 1, {kCounts}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FillCase {
  const char* name;
  int64_t samples;
  std::deque<bool> outcomes;
  int64_t made, attempts;
  std::vector<std::string> calls;
};

class FillBatch : public ::testing::TestWithParam<FillCase> {};

// Batch 3: its sample streams are seeded 3 * 10^6 + the sample's index.
TEST_P(FillBatch, RetriesGoOnWithTheirSampleStreamWithinTheBatchsAttempts) {
  const FillCase c = GetParam();
  auto log = std::make_shared<DrawLog>();
  FakeBatch steps(log);
  steps.outcomes = c.outcomes;
  const BatchFill fill = fill_batch(steps, 3, c.samples, BatchSwitches{2, false, false});
  EXPECT_EQ(fill.made, c.made);
  EXPECT_EQ(fill.attempts, c.attempts);
  EXPECT_EQ(fill.failed(), c.attempts - c.made);
  EXPECT_EQ(*log, c.calls);
}

std::string sample_stream(int64_t s) { return "start_sample_stream(" + std::to_string(3 * kBatchSeedStep + s) + ")"; }

std::vector<std::string> tries(int n) { return std::vector<std::string>(static_cast<size_t>(n), "attempt(2)"); }

std::vector<std::string> all(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillBatch,
    ::testing::Values(
        FillCase{"first_tries", 2, {}, 2, 2, {sample_stream(0), "attempt(2)", sample_stream(1), "attempt(2)"}},
        FillCase{"retry_keeps_the_stream",
                 2,
                 {true, false, false, true},
                 2,
                 4,
                 {sample_stream(0), "attempt(2)", sample_stream(1), "attempt(2)", "attempt(2)", "attempt(2)"}},
        // One sample, twenty attempts; the stream is started before the
        // limit is tested.
        FillCase{"attempts_run_out", 1, std::deque<bool>(25, false), 0, 20, all({{sample_stream(0)}, tries(20)})},
        // The attempts are shared: a sample that needed many leaves fewer.
        FillCase{"shared_attempts", 2,
                 [] {
                   std::deque<bool> d(39, false);
                   d.push_back(true);
                   return d;
                 }(),
                 1, 40, all({{sample_stream(0)}, tries(40), {sample_stream(1)}})}),
    [](const auto& info) { return std::string(info.param.name); });

struct ShortEpochCase {
  const char* name;
  const char* epoch;
  int64_t worker, rank, batch, samples, made, attempts;
  std::optional<int64_t> batches;
  const char* line;
};

class ShortEpochLine : public ::testing::TestWithParam<ShortEpochCase> {};

TEST_P(ShortEpochLine, NamesWhereAndHowTheStreamRanOut) {
  const ShortEpochCase& c = GetParam();
  ShortEpoch end;
  end.epoch = c.epoch;
  end.worker = c.worker;
  end.rank = c.rank;
  end.batch = c.batch;
  end.samples = c.samples;
  end.fill = {c.made, c.attempts};
  end.batches = c.batches;
  EXPECT_EQ(short_epoch_line(end), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortEpochLine,
    ::testing::Values(
        ShortEpochCase{"finite", "3", 1, 0, 4, 3, 1, 60, 8,
                       "[Warning] short epoch 3 on worker 1, rank 0: batch 4 got 1 of 3 samples, 59 of its 60 "
                       "attempts failed; the stream ends after 4 of the 8 batches it was to yield"},
        ShortEpochCase{"endless_at_its_first_batch", "12345678901234567890", 0, 2, 0, 2, 0, 40, std::nullopt,
                       "[Warning] short epoch 12345678901234567890 on worker 0, rank 2: batch 0 got 0 of 2 samples, "
                       "40 of its 40 attempts failed; the endless stream ends after 0 batches"},
        ShortEpochCase{"endless_after_one", "0", 2, 1, 1, 1, 0, 20, std::nullopt,
                       "[Warning] short epoch 0 on worker 2, rank 1: batch 1 got 0 of 1 samples, 20 of its 20 "
                       "attempts failed; the endless stream ends after 1 batch"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IterationPlan, WholeBatchesOfTheWorkersShare) {
  const IterationPlan plan = plan_iteration(10, 4, {0, 1});
  EXPECT_EQ(plan.batch, 4);
  EXPECT_EQ(plan.batches, 2);
  EXPECT_FALSE(plan_iteration(std::nullopt, std::nullopt, {0, 1}).batches.has_value());
  EXPECT_EQ(plan_iteration(3, 2, {3, 4}).batches, 0);
}

}  // namespace
}  // namespace speech::mixsim
