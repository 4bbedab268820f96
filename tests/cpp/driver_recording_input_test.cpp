#include "driver/recording_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/errors.h"
#include "common/wav_io.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace speech::driver {
namespace {

class RecordingInputTest : public ScratchFolderTest {
 protected:
  // The error text read_recording gives for `path`, or "" when it reads.
  static std::string failure(const fs::path& path) {
    try {
      read_recording(path.string());
    } catch (const common::OSError& e) {
      return e.what();
    }
    return "";
  }
};

TEST_F(RecordingInputTest, OnlyRegularFilesAreOpened) {
  fs::create_directory(dir_ / "dir.wav");
  ASSERT_EQ(::mkfifo((dir_ / "pipe.wav").c_str(), 0600), 0);  // opening it would wait for a writer
  std::ofstream(dir_ / "text.wav") << "not audio";
  EXPECT_EQ(failure(dir_ / "dir.wav"), "Error opening '" + (dir_ / "dir.wav").string() + "': Is a directory");
  EXPECT_EQ(failure(dir_ / "pipe.wav"), "Error opening '" + (dir_ / "pipe.wav").string() + "': not a regular file");
  for (const char* name : {"text.wav", "missing.wav"}) {
    EXPECT_EQ(failure(dir_ / name).rfind("Error opening '" + (dir_ / name).string() + "': ", 0), 0u) << name;
  }
}

TEST_F(RecordingInputTest, ReadsAFileAndALinkToIt) {
  const std::vector<float> samples{0.25f, -0.5f, 0.0f, 0.75f};
  common::write_wav((dir_ / "a.wav").string(), samples.data(), 2, 2, 8000);
  fs::create_symlink(dir_ / "a.wav", dir_ / "link.wav");
  for (const char* name : {"a.wav", "link.wav"}) {
    const common::AudioData audio = read_recording((dir_ / name).string());
    EXPECT_EQ(audio.frames, 2);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.sample_rate, 8000);
  }
}

TEST_F(RecordingInputTest, FirstChannelOrTheRefusalWithItsWarning) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> stereo{0.25, -0.5, 0.5, 0.125};
  common::write_wav((dir_ / "stereo.wav").string(), stereo.data(), 2, 2, 8000, common::WavSubtype::kFloat);
  const std::vector<double> poisoned{0.25, nan, 0.5};
  common::write_wav((dir_ / "nan.wav").string(), poisoned.data(), 3, 1, 16000, common::WavSubtype::kFloat);
  fs::create_directory(dir_ / "dir.wav");

  const RecordingRead read = read_first_channel((dir_ / "stereo.wav").string());
  EXPECT_FALSE(read.refused);
  EXPECT_EQ(read.first_channel, (std::vector<double>{0.25, 0.5}));
  EXPECT_EQ(read.sample_rate, 8000);

  const struct {
    const char* name;
    TaskOutcome outcome;
    std::string warning;
  } refused[] = {
      {"nan.wav", TaskOutcome::kNotFinite, "[警告] 音频含有非有限值(NaN/inf)的采样，跳过: " + (dir_ / "nan.wav").string()},
      {"dir.wav", TaskOutcome::kUnreadable,
       "[警告] 无法读取音频，跳过: Error opening '" + (dir_ / "dir.wav").string() + "': Is a directory"},
  };
  for (const auto& c : refused) {
    const RecordingRead failed = read_first_channel((dir_ / c.name).string());
    EXPECT_EQ(failed.refused, c.outcome) << c.name;
    EXPECT_EQ(failed.warning, c.warning);
    EXPECT_TRUE(failed.first_channel.empty());
  }
}

TEST(RecordingInput, ResamplerRefusalNamesTheFileAndItsRate) {
  EXPECT_EQ(resampling_refused_warning("a.wav", 8000, "Input signal length=2 is too small to resample"),
            "[警告] 无法读取音频，跳过: Error resampling 'a.wav' from 8000 Hz: Input signal length=2 is too small "
            "to resample");
}

}  // namespace
}  // namespace speech::driver
