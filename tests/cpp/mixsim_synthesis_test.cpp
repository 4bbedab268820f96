// One synthesis attempt against scripted streams and steps held in memory:
// the order of every draw and step, the placement the draws give, and what
// refuses a sample (an unusable utterance, a source silent once placed, a
// noise segment or a finished sample that is not finite).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "mixsim/mixture_synthesis.h"
#include "mixsim/segment_ops.h"
#include "scripted_draws.h"

namespace speech::mixsim {
namespace {

constexpr int64_t L = 8;

std::vector<float> ramp(int64_t n, float first) {
  std::vector<float> x(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) x[static_cast<size_t>(i)] = first + static_cast<float>(i);
  return x;
}

// Steps over signals in memory. Level restoration hands the wet signal on,
// an interferer is halved, a response is convolved directly, and noise is
// added scaled by the largest magnitude of the signal it is mixed into.
class FakeSteps final : public MixtureSteps {
 public:
  explicit FakeSteps(std::shared_ptr<DrawLog> log) : log_(std::move(log)) {}

  std::vector<std::vector<float>> utterances;
  std::vector<std::optional<LoadedUtterance>> loads;  // what loading finds, where not the samples themselves
  bool speaker_draw_raises = false;
  bool rooms = true;
  std::optional<int64_t> responses_drawn;
  std::vector<std::optional<std::vector<float>>> responses;  // nothing: missing or failed
  std::pair<double, double> sir{-5.0, 5.0}, snr{0.0, 20.0};
  std::optional<std::pair<double, double>> overlap = std::pair<double, double>{0.3, 1.0};
  bool noise_files = true;
  std::vector<float> noise = std::vector<float>(L, 0.5f);
  bool target = false;
  std::vector<std::string> warnings;

  std::optional<int64_t> draw_speakers(int64_t n) override {
    note("draw_speakers(" + std::to_string(n) + ")");
    if (speaker_draw_raises) return std::nullopt;
    return static_cast<int64_t>(utterances.size());
  }
  LoadedUtterance load_source(int64_t i) override {
    note("load_source(" + std::to_string(i) + ")");
    if (static_cast<size_t>(i) < loads.size() && loads[static_cast<size_t>(i)]) return *loads[static_cast<size_t>(i)];
    LoadedUtterance found;
    found.samples = static_cast<int64_t>(utterances.at(static_cast<size_t>(i)).size());
    return found;
  }
  int64_t source_length(int64_t i) override {
    return static_cast<int64_t>(utterances.at(static_cast<size_t>(i)).size());
  }
  std::optional<SignalId> crop_source(int64_t i, int64_t start, int64_t length) override {
    note("crop_source(" + std::to_string(i) + ", " + std::to_string(start) + ")");
    const std::vector<float>& x = utterances.at(static_cast<size_t>(i));
    const NewSignal out = new_signal(length);
    crop_or_pad(common::samples_of(x), start, length, out.samples.data());
    return out.id;
  }
  bool has_rooms() override { return rooms; }
  std::optional<int64_t> draw_impulse_responses(int64_t n) override {
    note("draw_impulse_responses(" + std::to_string(n) + ")");
    return responses_drawn;
  }
  bool prepare_impulse_response(int64_t j) override {
    note("prepare_impulse_response(" + std::to_string(j) + ")");
    return responses.at(static_cast<size_t>(j)).has_value();
  }
  bool impulse_response_is_empty(int64_t j) override { return responses.at(static_cast<size_t>(j))->empty(); }
  SignalId reverberate(SignalId segment, int64_t j, int64_t length) override {
    note("reverberate(" + std::to_string(j) + ")");
    const std::vector<float> x = signals_.at(static_cast<size_t>(segment));
    const std::vector<float>& h = *responses.at(static_cast<size_t>(j));
    const NewSignal out = new_signal(length);
    for (int64_t n = 0; n < length; ++n) {
      float y = 0.0f;
      for (int64_t k = 0; k <= n && k < static_cast<int64_t>(h.size()); ++k) {
        if (n - k < static_cast<int64_t>(x.size())) y += h[static_cast<size_t>(k)] * x[static_cast<size_t>(n - k)];
      }
      out.samples[n] = y;
    }
    return out.id;
  }
  SignalId preserve_level(SignalId dry, SignalId wet) override {
    note("preserve_level(" + std::to_string(dry) + ", " + std::to_string(wet) + ")");
    return wet;
  }
  std::pair<double, double> sir_range() override { return sir; }
  SignalId scale_for_sir(SignalId, SignalId interferer, double sir_db) override {
    note("scale_for_sir(" + number_text(sir_db) + ")");
    const std::vector<float> x = signals_.at(static_cast<size_t>(interferer));
    const NewSignal out = new_signal(static_cast<int64_t>(x.size()));
    for (size_t i = 0; i < x.size(); ++i) out.samples[static_cast<int64_t>(i)] = 0.5f * x[i];
    return out.id;
  }
  std::optional<std::pair<double, double>> overlap_range() override { return overlap; }
  bool has_noise_files() override { return noise_files; }
  void load_noise(int64_t file) override { note("load_noise(" + std::to_string(file) + ")"); }
  SignalId noise_segment() override {
    note("noise_segment()");
    signals_.push_back(noise);
    return static_cast<SignalId>(signals_.size() - 1);
  }
  std::pair<double, double> snr_range() override { return snr; }
  bool snr_against_target() override { return target; }
  SignalId mix_noise(SignalId clean, SignalId noise_id, double snr_db) override {
    note("mix_noise(" + std::to_string(clean) + ", " + number_text(snr_db) + ")");
    const std::vector<float> x = signals_.at(static_cast<size_t>(clean));
    const std::vector<float> n = signals_.at(static_cast<size_t>(noise_id));
    float peak = 0.0f;
    for (const float v : x) peak = std::max(peak, std::fabs(v));
    const NewSignal out = new_signal(static_cast<int64_t>(x.size()));
    for (size_t i = 0; i < x.size(); ++i) out.samples[static_cast<int64_t>(i)] = x[i] + peak * n[i];
    return out.id;
  }
  common::SampleView<const float> samples(SignalId id) override { return common::samples_of(signals_.at(static_cast<size_t>(id))); }
  NewSignal new_signal(int64_t size) override {
    signals_.emplace_back(static_cast<size_t>(size), 0.0f);
    return {static_cast<SignalId>(signals_.size() - 1), common::SampleView<float>(signals_.back().data(), size)};
  }
  void warn_about_source(int64_t i, const std::string& phrase, const std::string& reason) override {
    warnings.push_back(phrase + "source " + std::to_string(i) + ": " + reason);
  }
  void warn_about_noise(const std::string& phrase, const std::string& reason) override {
    warnings.push_back(phrase + "the noise: " + reason);
  }
  void warn_about_sample(const std::string& phrase, const std::string& reason) override {
    warnings.push_back(phrase + "every source: " + reason);
  }

  std::vector<float> signal(SignalId id) const { return signals_.at(static_cast<size_t>(id)); }

 private:
  void note(const std::string& call) { log_->push_back("steps." + call); }

  std::shared_ptr<DrawLog> log_;
  std::deque<std::vector<float>> signals_;  // addresses stay put as signals are added
};

struct Attempt {
  std::shared_ptr<DrawLog> log = std::make_shared<DrawLog>();
  ScriptedDraws worker{"worker", log};
  ScriptedDraws batch{"batch", log};
  ScriptedDraws sample{"sample", log};
  FakeSteps steps{log};
  BatchSwitches switches{3, true, true};

  std::optional<MixtureSample> run() { return synthesize_mixture(steps, {worker, batch, sample}, switches, L); }
};

// Three sources: one longer than the segment, one as long, one shorter.
void three_sources(Attempt& a) {
  a.steps.utterances = {ramp(12, 1.0f), ramp(8, 20.0f), ramp(5, 40.0f)};
  a.steps.responses_drawn = 3;
  a.steps.responses = {std::vector<float>{1.0f}, std::vector<float>{1.0f}, std::vector<float>{1.0f}};
}

TEST(MixtureSynthesis, DrawsAndStepsInTheirOrder) {
  Attempt a;
  three_sources(a);
  a.worker.add({2, -1.0, 2.0, 10.0});        // crop of source 0, two SIRs, the SNR
  a.batch.add({1});                          // the noise file
  a.sample.add({1, 0.5, 0.25, 1, 3, 2, 5});  // reference, two ratios, two windows
  const std::optional<MixtureSample> made = a.run();
  ASSERT_TRUE(made.has_value());
  const DrawLog expected = {"steps.draw_speakers(3)",
                            "steps.load_source(0)",
                            "steps.load_source(1)",
                            "steps.load_source(2)",
                            "worker.randint(0, 4)",
                            "steps.crop_source(0, 2)",
                            "steps.crop_source(1, 0)",
                            "steps.crop_source(2, 0)",
                            "steps.draw_impulse_responses(3)",
                            "steps.prepare_impulse_response(0)",
                            "steps.prepare_impulse_response(1)",
                            "steps.prepare_impulse_response(2)",
                            "steps.reverberate(0)",
                            "steps.reverberate(1)",
                            "steps.reverberate(2)",
                            "steps.preserve_level(0, 3)",
                            "steps.preserve_level(1, 4)",
                            "steps.preserve_level(2, 5)",
                            "worker.uniform(-5, 5)",
                            "steps.scale_for_sir(-1)",
                            "worker.uniform(-5, 5)",
                            "steps.scale_for_sir(2)",
                            "sample.randint(0, 2)",
                            "sample.uniform(0.3, 1)",
                            "sample.uniform(0.3, 1)",
                            "sample.randint(0, 4)",
                            "sample.randint(0, 4)",
                            "sample.randint(0, 6)",
                            "sample.randint(0, 6)",
                            "batch.choice(noise files)",
                            "steps.load_noise(1)",
                            "steps.noise_segment()",
                            "worker.uniform(0, 20)",
                            "steps.mix_noise(10, 10)"};
  EXPECT_EQ(*a.log, expected);
  EXPECT_TRUE(a.steps.warnings.empty());
  // Source 1 is the reference; source 0 keeps [1, 5) of its signal at 3,
  // source 2 keeps [2, 4) at 5.
  EXPECT_EQ(made->offsets, (std::vector<int64_t>{3, 0, 5}));
  EXPECT_EQ(made->active_lengths, (std::vector<int64_t>{4, 8, 2}));
  EXPECT_TRUE(made->reverberated);
  EXPECT_EQ(made->noise_file, 1);
  const std::vector<float> source0 = a.steps.signal(made->placed[0]);
  EXPECT_EQ(source0, (std::vector<float>{0, 0, 0, 4, 5, 6, 7, 0}));  // utterance 0 from 2: 3, 4, ... at [1, 5)
  const std::vector<float> source2 = a.steps.signal(made->placed[2]);
  EXPECT_EQ(source2, (std::vector<float>{0, 0, 0, 0, 0, 21, 21.5, 0}));  // halved: 42 / 2, 43 / 2
  const std::vector<float> mixture = a.steps.signal(made->mixture);
  const std::vector<float> reference = a.steps.signal(made->placed[1]);
  for (int64_t i = 0; i < L; ++i) {
    const float speech = source0[i] + reference[i] + source2[i];
    EXPECT_FLOAT_EQ(mixture[i], speech + 41.5f * 0.5f) << i;  // noise scaled by the speech sum's peak
  }
}

TEST(MixtureSynthesis, TargetReferenceSetsTheNoiseAgainstTheFirstSourceAsPlaced) {
  Attempt a;
  three_sources(a);
  a.steps.target = true;
  a.worker.add({2, -1.0, 2.0, 10.0});
  a.sample.add({1, 0.5, 0.25, 1, 3, 2, 5});
  const std::optional<MixtureSample> made = a.run();
  ASSERT_TRUE(made.has_value());
  EXPECT_EQ(a.log->back(), "steps.mix_noise(8, 10)");  // placed source 0
  const std::vector<float> mixture = a.steps.signal(made->mixture);
  const std::vector<float> source0 = a.steps.signal(made->placed[0]);
  const std::vector<float> reference = a.steps.signal(made->placed[1]);
  const std::vector<float> source2 = a.steps.signal(made->placed[2]);
  for (int64_t i = 0; i < L; ++i) {
    EXPECT_FLOAT_EQ(mixture[i], source0[i] + reference[i] + source2[i] + 7.0f * 0.5f) << i;  // its peak is 7
  }
}

TEST(MixtureSynthesis, OneSpeakerDrawsOnlyItsReferenceAndKeepsItWhole) {
  Attempt a;
  a.steps.utterances = {ramp(8, 1.0f)};
  a.switches = {1, false, false};
  const std::optional<MixtureSample> made = a.run();
  ASSERT_TRUE(made.has_value());
  const DrawLog expected = {"steps.draw_speakers(1)", "steps.load_source(0)", "steps.crop_source(0, 0)",
                            "steps.preserve_level(0, 0)", "sample.randint(0, 0)"};
  EXPECT_EQ(*a.log, expected);
  EXPECT_EQ(made->offsets, std::vector<int64_t>{0});
  EXPECT_EQ(made->active_lengths, std::vector<int64_t>{8});
  EXPECT_EQ(made->mixture, 1);  // the speech sum itself, without noise
  EXPECT_FALSE(made->reverberated);
  EXPECT_FALSE(made->noise_file.has_value());
}

struct WindowCase {
  const char* name;
  double ratio;
  std::vector<std::string> window_draws;
  int64_t active;
};

class Windows : public ::testing::TestWithParam<WindowCase> {};

// Halves go to the even window length; a window of the whole segment takes
// no draws; one of nothing takes both, and leaves its source silent.
TEST_P(Windows, LengthAndDrawsFollowTheRatio) {
  const WindowCase c = GetParam();
  Attempt a;
  a.steps.utterances = {ramp(8, 1.0f), ramp(8, 20.0f)};
  a.switches = {2, false, false};
  a.sample.add({0, c.ratio});
  const std::optional<MixtureSample> made = a.run();
  const DrawLog tail(a.log->end() - static_cast<long>(c.window_draws.size()), a.log->end());
  EXPECT_EQ(tail, c.window_draws);
  if (c.active == 0) {
    EXPECT_FALSE(made.has_value());
    EXPECT_EQ(a.steps.warnings,
              std::vector<std::string>{"silent source source 1: it carries no signal after placement"});
    return;
  }
  ASSERT_TRUE(made.has_value());
  EXPECT_EQ(made->active_lengths[1], c.active);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Windows,
    ::testing::Values(WindowCase{"half_down", 0.5625, {"sample.randint(0, 4)", "sample.randint(0, 4)"}, 4},
                      WindowCase{"half_up", 0.6875, {"sample.randint(0, 2)", "sample.randint(0, 2)"}, 6},
                      WindowCase{"whole", 1.0, {"sample.uniform(0.3, 1)"}, 8},
                      WindowCase{"clamped", 1.7, {"sample.uniform(0.3, 1)"}, 8},
                      WindowCase{"nothing", 0.0, {"sample.randint(0, 8)", "sample.randint(0, 8)"}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// What loading found, for the second of three sources.
struct LoadCase {
  const char* name;
  LoadedUtterance found;
  std::vector<std::string> warnings;
};

class UnusableUtterance : public ::testing::TestWithParam<LoadCase> {};

TEST_P(UnusableUtterance, FailsTheAttemptOnceAllAreLoadedAndBeforeAnyCrop) {
  const LoadCase c = GetParam();
  Attempt a;
  three_sources(a);
  a.steps.loads = {std::nullopt, c.found, std::nullopt};
  EXPECT_FALSE(a.run().has_value());
  const DrawLog expected = {"steps.draw_speakers(3)", "steps.load_source(0)", "steps.load_source(1)",
                            "steps.load_source(2)"};
  EXPECT_EQ(*a.log, expected);
  EXPECT_EQ(a.steps.warnings, c.warnings);
}

LoadedUtterance found(int64_t samples, bool at_rate, std::optional<NonFiniteSample> bad = std::nullopt,
                      bool refused = false) {
  LoadedUtterance u;
  u.samples = samples;
  u.at_target_rate = at_rate;
  u.non_finite = bad;
  u.refused = refused;
  return u;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusableUtterance,
    ::testing::Values(LoadCase{"unreadable", found(0, true), {}}, LoadCase{"left_at_its_rate", found(8, false), {}},
                      LoadCase{"refused_by_its_reader", found(8, true, std::nullopt, true), {}},
                      LoadCase{"not_finite",
                               found(8, true, NonFiniteSample{7, std::numeric_limits<float>::quiet_NaN()}),
                               {"non-finite audio source 1: frame 7 is nan"}},
                      LoadCase{"infinite",
                               found(8, true, NonFiniteSample{0, -std::numeric_limits<float>::infinity()}),
                               {"non-finite audio source 1: frame 0 is -inf"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MixtureSynthesis, FailedSpeakerDrawEndsTheAttemptQuietly) {
  Attempt a;
  three_sources(a);
  a.steps.speaker_draw_raises = true;
  EXPECT_FALSE(a.run().has_value());
  EXPECT_EQ(*a.log, DrawLog{"steps.draw_speakers(3)"});
  EXPECT_TRUE(a.steps.warnings.empty());
}

TEST(MixtureSynthesis, NoSourceAtAllIsAnError) {
  Attempt a;
  EXPECT_THROW(a.run(), std::out_of_range);
}

TEST(MixtureSynthesis, SilentStretchFailsAfterEveryPlacementDraw) {
  Attempt a;
  three_sources(a);
  a.steps.utterances[2] = {0, 0, 0, 0, 1, 0, 0, 0};  // silent but for one sample outside its window
  a.worker.add({2, -1.0, 2.0});
  a.sample.add({1, 0.5, 0.25, 1, 3, 0, 5});
  EXPECT_FALSE(a.run().has_value());
  EXPECT_EQ(a.log->back(), "sample.randint(0, 6)");
  EXPECT_EQ(a.steps.warnings, std::vector<std::string>{"silent source source 2: it carries no signal after placement"});
}

TEST(MixtureSynthesis, NonFiniteNoiseSegmentFailsBeforeTheSnrDraw) {
  Attempt a;
  three_sources(a);
  a.steps.noise[3] = std::numeric_limits<float>::infinity();
  a.worker.add({2, -1.0, 2.0});
  a.sample.add({1, 0.5, 0.25, 1, 3, 2, 5});
  EXPECT_FALSE(a.run().has_value());
  EXPECT_EQ(a.log->back(), "steps.noise_segment()");
  EXPECT_EQ(a.steps.warnings,
            std::vector<std::string>{"non-finite noise the noise: the drawn segment's sample 3 is inf"});
}

TEST(MixtureSynthesis, OverflowOnTheWayToTheMixtureIsRefused) {
  Attempt a;
  a.steps.utterances = {std::vector<float>(8, 3e38f), std::vector<float>(8, 3e38f)};
  a.switches = {2, false, false};
  a.steps.overlap = std::nullopt;  // every source active throughout
  const std::optional<MixtureSample> made = a.run();
  EXPECT_FALSE(made.has_value());
  EXPECT_EQ(a.log->back(), "sample.uniform(1, 1)");
  EXPECT_EQ(a.steps.warnings,
            std::vector<std::string>{"non-finite sample from every source: the mixture's sample 0 is inf"});
}

struct DryCase {
  const char* name;
  bool apply_rir;
  bool rooms;
  std::optional<int64_t> drawn;
  std::vector<std::optional<std::vector<float>>> responses;
  std::vector<std::string> reverberated;  // the convolutions made
  bool used;
};

class DrySources : public ::testing::TestWithParam<DryCase> {};

// A missing, failed or empty response leaves its source dry rather than
// silent, as does a source beyond the responses drawn.
TEST_P(DrySources, OnlyUsableResponsesAreConvolved) {
  const DryCase c = GetParam();
  Attempt a;
  three_sources(a);
  a.switches.apply_rir = c.apply_rir;
  a.switches.apply_noise = false;
  a.steps.rooms = c.rooms;
  a.steps.responses_drawn = c.drawn;
  a.steps.responses = c.responses;
  a.sample.add({1, 1.0, 1.0});
  const std::optional<MixtureSample> made = a.run();
  ASSERT_TRUE(made.has_value());
  std::vector<std::string> convolutions;
  for (const std::string& call : *a.log) {
    if (call.rfind("steps.reverberate", 0) == 0) convolutions.push_back(call);
  }
  EXPECT_EQ(convolutions, c.reverberated);
  EXPECT_EQ(made->reverberated, c.used);
}

const std::vector<float> kEcho{1.0f, 0.5f};

INSTANTIATE_TEST_SUITE_P(
    Cases, DrySources,
    ::testing::Values(DryCase{"switched_off", false, true, 3, {kEcho, kEcho, kEcho}, {}, false},
                      DryCase{"no_rooms", true, false, 3, {kEcho, kEcho, kEcho}, {}, false},
                      DryCase{"none_drawn", true, true, std::nullopt, {}, {}, false},
                      DryCase{
                          "missing_empty_and_beyond", true, true, 2, {std::nullopt, std::vector<float>{}}, {}, true},
                      DryCase{"the_usable_one",
                              true,
                              true,
                              3,
                              {std::nullopt, kEcho, std::vector<float>{}},
                              {"steps.reverberate(1)"},
                              true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace speech::mixsim
