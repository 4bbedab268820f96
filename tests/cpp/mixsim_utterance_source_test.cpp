// What a source's segment is cut from: a file held open gives the crop of
// the same samples in memory, at the stream's rate or resampled from the
// file's own; files that cannot be cropped in place are left to the whole
// read.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "common/wav_io.h"
#include "mixsim/utterance_source.h"
#include "scratch_folder.h"

namespace speech::mixsim {
namespace {

class UtteranceSourceFile : public ScratchFolderTest {
 protected:
  std::vector<float> write(const std::string& name, int64_t frames, int rate, int format) {
    std::vector<float> x(static_cast<size_t>(frames));
    for (size_t i = 0; i < x.size(); ++i)
      x[i] = static_cast<float>(0.4 * std::sin(0.031 * i) + 0.1 * std::cos(1.3 * i));
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* file = sf_open(at(name).c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
      sf_writef_float(file, x.data(), frames);
      sf_close(file);
    }
    return x;
  }
};

TEST_F(UtteranceSourceFile, HeldFileCropsAsTheSamplesInMemory) {
  for (const int rate : {16000, 8000}) {
    const std::string name = "utt" + std::to_string(rate) + ".wav";
    const std::vector<float> x = write(name, 9001, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::optional<UtteranceSource> held = open_for_crop(at(name), 16000.0);
    std::optional<UtteranceSource> memory = in_memory_at(common::samples_of(x), rate, 16000.0);
    ASSERT_TRUE(held && memory) << rate;
    EXPECT_EQ(held->file_rate.has_value(), rate != 16000);
    ASSERT_EQ(held->length(), memory->length());
    constexpr int64_t L = 1000;
    for (const int64_t start : {int64_t{0}, int64_t{17}, held->length() / 2, held->length() - 300}) {
      std::vector<float> from_file(L, -1.0f), from_memory(L, -2.0f);
      held->crop(start, L, from_file.data());
      memory->crop(start, L, from_memory.data());
      ASSERT_EQ(from_file, from_memory) << rate << " from " << start;
    }
  }
}

TEST_F(UtteranceSourceFile, WhatCannotBeCroppedInPlaceIsLeftToTheWholeRead) {
  write("stream.ogg", 16000, 16000, SF_FORMAT_OGG | SF_FORMAT_VORBIS);  // its seeks land elsewhere
  write("empty.wav", 0, 16000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  write("one.wav", 1, 22050, SF_FORMAT_WAV | SF_FORMAT_PCM_16);  // too short to resample
  for (const char* name : {"stream.ogg", "empty.wav", "one.wav", "missing.wav"}) {
    EXPECT_FALSE(open_for_crop(at(name), 16000.0).has_value()) << name;
  }
}

TEST(UtteranceSource, SamplesThatCannotBeResampledAreRefused) {
  const std::vector<float> bad = {0.0f, NAN, 0.0f, 0.0f};
  EXPECT_FALSE(in_memory_at(common::samples_of(bad), 8000.0, 16000.0).has_value());
  // At the stream's rate nothing is resampled: the samples are taken as they are.
  const std::optional<UtteranceSource> as_is = in_memory_at(common::samples_of(bad), 16000.0, 16000.0);
  ASSERT_TRUE(as_is.has_value());
  EXPECT_FALSE(as_is->file_rate.has_value());
  std::vector<float> out(6, -1.0f);
  in_memory(common::samples_of(bad)).crop(2, 6, out.data());
  EXPECT_EQ(out[0], 0.0f);
  EXPECT_EQ(out[2], 0.0f);  // zero-padded past the end
}

}  // namespace
}  // namespace speech::mixsim
