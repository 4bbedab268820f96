// A result wav appears whole or not at all: a full disk, a folder in the
// result's place or a missing folder leave no partial file under the result
// name, keep what was there, and leave no temporary behind.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/wav_io.h"
#include "scratch_folder.h"

namespace speech::common {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string bytes_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WholeWavWrite : public ScratchFolderTest {
 protected:
  const std::vector<float> second_ = std::vector<float>(16000, 0.25f);
};

TEST_F(WholeWavWrite, WritesTheFileWithTheUsualModeAndNoTemporary) {
  const std::string path = at("main_speaker_0.wav");
  std::ofstream(path) << "an earlier run's stream";
  write_wav(path, second_.data(), static_cast<int64_t>(second_.size()), 1, 16000);
  const AudioData back = read_audio(path);
  EXPECT_EQ(back.frames, 16000);
  EXPECT_EQ(back.sample_rate, 16000);
  EXPECT_NEAR(back.samples[100], 0.25, 1e-4);
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"main_speaker_0.wav"});
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_F(WholeWavWrite, AFolderInTheResultsPlaceIsAnErrorNamingTheResult) {
  const std::string path = at("mix.wav");
  fs::create_directory(path);
  try {
    write_wav(path, second_.data(), 10, 1, 16000);
    FAIL() << "wrote over a folder";
  } catch (const SystemCallError& e) {
    EXPECT_EQ(e.error_number, EISDIR);
    EXPECT_EQ(e.path, path);
  }
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"mix.wav"});
}

TEST_F(WholeWavWrite, AMissingFolderIsAnErrorNamingTheResult) {
  const std::string path = at("gone/mix.wav");
  try {
    write_wav(path, second_.data(), 10, 1, 16000);
    FAIL() << "wrote into a missing folder";
  } catch (const SystemCallError& e) {
    EXPECT_EQ(e.error_number, ENOENT);
    EXPECT_EQ(e.path, path);
  }
}

// A tmpfs of 64 KiB holds a little over two seconds of 16-bit audio.
class FullDisk : public ScratchFolderTest {
 protected:
  void SetUp() override {
    disk_ = dir_ / "disk";
    fs::create_directory(disk_);
    if (::geteuid() != 0 || ::mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=64k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount(disk_.c_str());
    ScratchFolderTest::TearDown();
  }

  fs::path disk_;
  bool mounted_ = false;
};

TEST_F(FullDisk, ACutWriteKeepsTheOldFileAndLeavesNoTemporary) {
  const std::string path = (disk_ / "main_speaker_0.wav").string();
  std::ofstream(path) << "an earlier run's stream";
  const std::vector<float> long_stream(60 * 16000, 0.25f);
  try {
    write_wav(path, long_stream.data(), static_cast<int64_t>(long_stream.size()), 1, 16000);
    FAIL() << "a minute of audio fit on 64 KiB";
  } catch (const SndfileError& e) {
    EXPECT_EQ(e.path, path);
    EXPECT_NE(e.reason.find("No space left on device"), std::string::npos) << e.reason;
  }
  EXPECT_EQ(bytes_of(path), "an earlier run's stream");
  EXPECT_EQ(names_in(disk_), std::vector<std::string>{"main_speaker_0.wav"});
  // The space the temporary took is free again.
  const std::vector<float> short_stream(8000, 0.25f);
  write_wav(path, short_stream.data(), static_cast<int64_t>(short_stream.size()), 1, 16000);
  EXPECT_EQ(read_audio(path).frames, 8000);
}

}  // namespace
}  // namespace speech::common
