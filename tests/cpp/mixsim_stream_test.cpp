// The stream's integer arithmetic, the sample-level segment steps, the crop
// of a resampled utterance and the batch collation.
#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <sndfile.h>

#include <cctype>
#include <cmath>
#include <optional>
#include <vector>

#include "common/errors.h"
#include "common/wav_io.h"
#include "mixsim/segment_reader.h"
#include "mixsim/batch_collation.h"
#include "mixsim/segment_ops.h"
#include "mixsim/stream_plan.h"
#include "mixsim/utterance_crop.h"
#include "resample/resampler.h"
#include "scratch_folder.h"

namespace speech::mixsim {
namespace {

TEST(StreamPlan, RoundsHalvesToEven) {
  const std::vector<std::pair<double, int64_t>> cases = {
      {62.5, 62}, {187.5, 188}, {2.5, 2}, {-2.5, -2}, {1.5, 2}, {48000.0, 48000}, {0.49999999, 0}};
  for (const auto& [x, expected] : cases) EXPECT_EQ(round_half_even(x), expected) << x;
}

struct ShareCase {
  std::optional<int64_t> samples;
  int64_t worker, count;
  std::optional<int64_t> batch_size;
  std::optional<int64_t> expected_samples, expected_batches;
};

class WorkerShare : public ::testing::TestWithParam<ShareCase> {};

TEST_P(WorkerShare, SplitsEvenlyAndDropsPartialBatches) {
  const ShareCase c = GetParam();
  const std::optional<int64_t> samples = samples_for_worker(c.samples, {c.worker, c.count});
  EXPECT_EQ(samples, c.expected_samples);
  EXPECT_EQ(batches_for_worker(samples, batch_samples(c.batch_size)), c.expected_batches);
}

INSTANTIATE_TEST_SUITE_P(Cases, WorkerShare,
                         ::testing::Values(ShareCase{10, 0, 1, 4, 10, 2}, ShareCase{10, 1, 4, 2, 3, 1},
                                           ShareCase{10, 3, 4, 2, 2, 1}, ShareCase{3, 3, 4, 1, 0, 0},
                                           ShareCase{0, 0, 2, 1, 0, 0}, ShareCase{std::nullopt, 0, 1, 4, std::nullopt, std::nullopt},
                                           ShareCase{5, 0, 1, std::nullopt, 5, 5}, ShareCase{5, 0, 1, -3, 5, 5}));

TEST(StreamPlan, WorkersInterleaveProcesses) {
  // World size 2, three workers each: process 0 holds 0, 2, 4.
  for (int64_t w = 0; w < 3; ++w) {
    EXPECT_EQ(shard_info(0, 2, w, 3).global_worker_id, 2 * w);
    EXPECT_EQ(shard_info(1, 2, w, 3).global_worker_id, 2 * w + 1);
    EXPECT_EQ(shard_info(1, 2, w, 3).global_worker_count, 6);
  }
}

TEST(StreamPlan, LoaderWorkerReadsTheGlobalIdBackwards) {
  for (int64_t rank = 0; rank < 2; ++rank) {
    for (int64_t w = 0; w < 3; ++w) EXPECT_EQ(loader_worker(shard_info(rank, 2, w, 3), rank, 2), w);
  }
  EXPECT_EQ(loader_worker({5, 6}, 0, 0), 5);
}

TEST(StreamPlan, BatchesForAProcessSumItsWorkersWholeBatches) {
  // 10 samples, batches of 2: one worker (or none) makes 5; two make 5 and
  // 5 samples, 2 batches each; three make 4, 3 and 3 samples: 2, 1 and 1.
  EXPECT_EQ(batches_for_process(10, 2, 0, 1, 0), 5);
  EXPECT_EQ(batches_for_process(10, 2, 0, 1, 1), 5);
  EXPECT_EQ(batches_for_process(10, 2, 0, 1, 2), 4);
  EXPECT_EQ(batches_for_process(10, 2, 0, 1, 3), 4);
  // Rank 1 of 2, two workers: global workers 1 and 3 of 4 make 3 and 2.
  EXPECT_EQ(batches_for_process(10, 2, 1, 2, 2), 2);
  EXPECT_EQ(batches_for_process(0, 2, 0, 1, 2), 0);
  EXPECT_FALSE(batches_for_process(std::nullopt, 2, 0, 1, 2).has_value());
}

TEST(StreamPlan, SpeakerTriesAndCounts) {
  EXPECT_EQ(speaker_tries_limit(4), 100);
  EXPECT_EQ(speaker_tries_limit(11), 110);
  EXPECT_EQ(speaker_tries_limit(12), 120);
  EXPECT_EQ(clamp_speaker_count(0), 1);
  EXPECT_EQ(clamp_speaker_count(6), 4);
  EXPECT_EQ(attempts_per_batch(3), 60);
}

TEST(SegmentOps, CropPadAndPlace) {
  const std::vector<float> src = {1, 2, 3, 4, 5};
  std::vector<float> out(3, -1.0f);
  crop_or_pad(common::samples_of(src), 2, 3, out.data());
  EXPECT_EQ(out, (std::vector<float>{3, 4, 5}));
  std::vector<float> padded(7, -1.0f);
  crop_or_pad(common::samples_of(src), 0, 7, padded.data());
  EXPECT_EQ(padded, (std::vector<float>{1, 2, 3, 4, 5, 0, 0}));
  std::vector<float> placed(6, -1.0f);
  place_window(common::samples_of(src).subview(1, 2), 3, 6, placed.data());
  EXPECT_EQ(placed, (std::vector<float>{0, 0, 0, 2, 3, 0}));
  place_window(common::samples_of(src).subview(0, 0), 6, 6, placed.data());
  EXPECT_EQ(count_nonzero(common::samples_of(placed)), 0);
}

TEST(SegmentOps, NoiseRegions) {
  // 16 kHz, 10 s regions, 3 s segments.
  EXPECT_EQ(noise_regions(500000, 10.0, 16000, 48000).count, 3);
  EXPECT_EQ(noise_regions(318400, 10.0, 16000, 48000).count, 1);
  EXPECT_EQ(noise_regions(100000, 10.0, 16000, 48000).count, 1);
  const NoiseRegions fallback = noise_regions(100, 0.0, 16000, 30);
  EXPECT_EQ(fallback.region, 30);
  EXPECT_EQ(fallback.count, 3);
  const RegionBounds short_noise = region_bounds(noise_regions(100, 10.0, 16000, 48000), 0, 100);
  EXPECT_EQ(short_noise.size(), 100);
  const std::vector<float> region = {1, 2, 3};
  std::vector<float> tiled(7);
  tile_into(common::samples_of(region), 7, tiled.data());
  EXPECT_EQ(tiled, (std::vector<float>{1, 2, 3, 1, 2, 3, 1}));
}

TEST(SegmentOps, SumsInSourceOrder) {
  const std::vector<float> a = {1e8f, 1.0f}, b = {1.0f, 2.0f}, c = {-1e8f, 3.0f};
  std::vector<float> out(2);
  sum_sources({common::samples_of(a), common::samples_of(b), common::samples_of(c)}, 2, out.data());
  // (1e8 + 1) rounds back to 1e8 in float32 before c is added.
  EXPECT_EQ(out, (std::vector<float>{0.0f, 6.0f}));
}

class UtteranceCrop : public ::testing::TestWithParam<std::pair<double, double>> {};

TEST_P(UtteranceCrop, EqualsTheCropOfTheWholeResampledUtterance) {
  const auto [orig, target] = GetParam();
  std::vector<float> x(3001);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(0.01 * i) + 0.1 * std::cos(0.37 * i));
  const std::vector<float> whole =
      resample::resample(common::samples_of(x), orig, target, resample::ResampleFilter::kKaiserFast);
  const int64_t total = resampled_utterance_length(static_cast<int64_t>(x.size()), orig, target);
  ASSERT_EQ(total, static_cast<int64_t>(whole.size()));
  const int64_t L = 700;
  for (const int64_t start : {int64_t{0}, int64_t{1}, total / 2, total - L, total - 10}) {
    std::vector<float> crop(L, -7.0f);
    crop_resampled_utterance(common::samples_of(x), orig, target, start, L, crop.data());
    for (int64_t i = 0; i < L; ++i) {
      const float expected = start + i < total ? whole[static_cast<size_t>(start + i)] : 0.0f;
      ASSERT_EQ(crop[static_cast<size_t>(i)], expected) << "start " << start << " sample " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, UtteranceCrop,
                         ::testing::Values(std::make_pair(8000.0, 16000.0), std::make_pair(22050.0, 16000.0),
                                           std::make_pair(44100.0, 16000.0), std::make_pair(16000.0, 16000.0)));

// Only the frames a crop is made from are at hand, as when a file is read
// over those frames only: the crop is the same to the bit, and the frames
// are about a segment's worth, not the utterance's.
TEST_P(UtteranceCrop, FromItsOwnFramesEqualsTheCropOfTheWholeUtterance) {
  const auto [orig, target] = GetParam();
  std::vector<float> x(20001);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(0.013 * i) + 0.2 * std::cos(0.41 * i));
  const auto n = static_cast<int64_t>(x.size());
  const int64_t total = resampled_utterance_length(n, orig, target);
  const int64_t L = 900;
  for (const int64_t start : {int64_t{0}, int64_t{5}, total / 3, total - L, total - 40}) {
    std::vector<float> expected(L), got(L, -7.0f);
    crop_resampled_utterance(common::contiguous_samples(x.data(), n), orig, target, start, L, expected.data());
    const resample::SampleStretch have = frames_for_crop(n, orig, target, start, L);
    ASSERT_LE(have.end - have.first, static_cast<int64_t>(L * orig / target) + 2 * 24 * 3 + 4) << start;
    const std::vector<float> frames(x.begin() + have.first, x.begin() + have.end);
    crop_resampled_frames(common::samples_of(frames), have, n, orig, target, start, L, got.data());
    ASSERT_EQ(got, expected) << "start " << start;
  }
}

TEST(UtteranceCrop, FramesThatDoNotCoverTheCropAreRefused) {
  const resample::SampleStretch have = frames_for_crop(5000, 8000.0, 16000.0, 2000, 400);
  const resample::SampleStretch short_by_one{have.first + 1, have.end};
  const std::vector<float> x(static_cast<size_t>(short_by_one.end - short_by_one.first), 0.25f);
  std::vector<float> out(400);
  EXPECT_THROW(crop_resampled_frames(common::samples_of(x), short_by_one, 5000, 8000.0, 16000.0, 2000, 400, out.data()),
               std::invalid_argument);
}

TEST(UtteranceCrop, RefusesWhatWholeResamplingRefuses) {
  const std::vector<float> one = {0.5f};
  EXPECT_THROW(check_utterance_resampling(common::samples_of(one), 22050.0, 16000.0), common::ValueError);
  const std::vector<float> bad = {0.0f, NAN, 0.0f, 0.0f};
  EXPECT_THROW(check_utterance_resampling(common::samples_of(bad), 8000.0, 16000.0), common::ValueError);
  EXPECT_NO_THROW(check_utterance_resampling(common::samples_of(one), 8000.0, 16000.0));
  // Without the samples: the same refusals, but for non-finite samples.
  EXPECT_THROW(check_utterance_resampling_shape(1, 22050.0, 16000.0), common::ValueError);
  EXPECT_THROW(check_utterance_resampling_shape(4, 0.0, 16000.0), common::ValueError);
  EXPECT_NO_THROW(check_utterance_resampling_shape(4, 8000.0, 16000.0));
}

using SegmentReaderFile = ScratchFolderTest;

TEST_F(SegmentReaderFile, StretchEqualsTheWholeFilesFrames) {
  const std::string path = at("a.wav");
  std::vector<float> interleaved(2 * 1000);
  for (size_t i = 0; i < interleaved.size(); ++i) interleaved[i] = static_cast<float>(std::sin(0.05 * i)) * 0.5f;
  common::write_wav(path, interleaved.data(), 1000, 2, 16000, common::WavSubtype::kPcm16);
  const common::AudioData whole = common::read_audio(path);
  SegmentReader reader(path);
  EXPECT_TRUE(reader.seeks_exactly());
  EXPECT_EQ(reader.frames(), 1000);
  EXPECT_EQ(reader.channels(), 2);
  EXPECT_EQ(reader.sample_rate(), 16000);
  std::vector<float> stretch(300, -1.0f);
  reader.read_first_channel(800, 300, stretch.data());
  for (int64_t i = 0; i < 300; ++i) {
    const float expected = i < 200 ? static_cast<float>(whole.samples[static_cast<size_t>(2 * (800 + i))]) : 0.0f;
    ASSERT_EQ(stretch[static_cast<size_t>(i)], expected) << i;
  }
  EXPECT_THROW(SegmentReader("/nonexistent/mixsim.wav"), common::OSError);
}

// A file written through libsndfile in any container it knows.
void write_frames(const std::string& path, int format, const std::vector<float>& interleaved, int channels, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
  EXPECT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
  sf_close(file);
}

struct SeekCase {
  const char* name;
  int format;
  int channels;
  int rate;
  bool exact;
};

class SegmentReaderFormats : public ScratchFolderTest, public ::testing::WithParamInterface<SeekCase> {};

// FLAC decodes from the frame holding the sample: any stretch is the whole
// read's, at any rate and channel count. Ogg Vorbis seeks land elsewhere,
// so such a file is read whole.
TEST_P(SegmentReaderFormats, SeeksExactlyWhereStretchesEqualTheWholeRead) {
  const SeekCase c = GetParam();
  const std::string path = at(c.name);
  const int64_t n = 3 * c.rate + 77;
  std::vector<float> interleaved(static_cast<size_t>(n * c.channels));
  for (size_t i = 0; i < interleaved.size(); ++i) {
    interleaved[i] = static_cast<float>(0.4 * std::sin(0.031 * i) + 0.1 * std::cos(1.7 * i));
  }
  write_frames(path, c.format, interleaved, c.channels, c.rate);
  const common::AudioData whole = common::read_audio(path);
  SegmentReader reader(path);
  ASSERT_EQ(reader.seeks_exactly(), c.exact);
  if (c.exact) {
    ASSERT_EQ(reader.frames(), whole.frames);
    for (const int64_t start : {int64_t{0}, int64_t{4095}, int64_t{4096}, n / 2 + 3, n - 500}) {
      std::vector<float> stretch(500);
      reader.read_first_channel(start, 500, stretch.data());
      for (int64_t i = 0; i < 500; ++i) {
        const auto sample = static_cast<size_t>((start + i) * c.channels);
        ASSERT_EQ(stretch[static_cast<size_t>(i)], static_cast<float>(whole.samples[sample])) << start << " + " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, SegmentReaderFormats,
    ::testing::Values(SeekCase{"mixsim_seek_8k.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 8000, true},
                      SeekCase{"mixsim_seek_16k.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 3, 16000, true},
                      SeekCase{"mixsim_seek_8k_float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 8000, true},
                      SeekCase{"mixsim_seek.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 16000, false}),
    [](const ::testing::TestParamInfo<SeekCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

TEST(BatchCollation, PadsStacksAndCounts) {
  const std::vector<at::Tensor> rows = {at::ones({3}), at::full({5}, 2.0)};
  const at::Tensor padded = pad_rows(rows);
  ASSERT_EQ(padded.sizes(), (at::IntArrayRef{2, 5}));
  EXPECT_TRUE(at::equal(padded[0], at::tensor({1.0f, 1.0f, 1.0f, 0.0f, 0.0f})));
  EXPECT_TRUE(at::equal(row_lengths(rows), at::tensor({3, 5}, at::kLong)));
  const at::Tensor stacked = stack_slots({padded, padded * 2});
  ASSERT_EQ(stacked.sizes(), (at::IntArrayRef{2, 2, 5}));
  EXPECT_EQ(stacked[1][1][4].item<float>(), 4.0f);
  // In one step, as per-slot padding and stacking give it.
  const std::vector<std::vector<at::Tensor>> slots = {{at::ones({3}), at::full({5}, 2.0)},
                                                      {at::full({5}, 3.0), at::arange(5, at::kFloat)}};
  const at::Tensor direct = pad_and_stack_slots(slots);
  EXPECT_TRUE(at::equal(direct, stack_slots({pad_rows(slots[0]), pad_rows(slots[1])})));
  EXPECT_THROW(pad_and_stack_slots({{at::ones({3})}, {at::ones({4})}}), c10::Error);
  const at::Tensor with_channels = pad_rows({at::ones({1, 4}), at::ones({1, 4})});
  EXPECT_EQ(with_channels.sizes(), (at::IntArrayRef{2, 1, 4}));
}

TEST(BatchCollation, RecordsWithoutASlotHoldOneZeroAndSourcesAreFlattened) {
  RecordSignals first{{at::ones({4}), at::ones({2, 2})}, at::ones({4})};
  RecordSignals second{{at::full({3}, 2.0f)}, at::ones({3})};
  const int64_t slots = slot_count({2, 1});
  ASSERT_EQ(slots, 2);
  const CollatedSignals batch = collate_signals({first, second}, slots);
  EXPECT_EQ(batch.sources.sizes(), (at::IntArrayRef{2, 2, 4}));
  EXPECT_EQ(batch.sources_len.scalar_type(), at::kLong);
  EXPECT_TRUE(at::equal(batch.sources_len, at::tensor({4, 4, 3, 1}, at::kLong).reshape({2, 2})));
  EXPECT_TRUE(at::equal(batch.sources[1][0], at::tensor({2.0f, 2.0f, 2.0f, 0.0f})));
  EXPECT_TRUE(at::equal(batch.sources[1][1], at::zeros({4})));
  EXPECT_EQ(batch.mixture.sizes(), (at::IntArrayRef{2, 1, 4}));
  EXPECT_TRUE(at::equal(batch.mixture_len, at::tensor({4, 3}, at::kLong)));
}

}  // namespace
}  // namespace speech::mixsim
