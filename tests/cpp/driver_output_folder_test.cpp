#include "driver/output_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "common/errors.h"

namespace fs = std::filesystem;

namespace speech {
namespace {

class OutputFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("driver_folder_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }
  fs::path dir_;
};

TEST_F(OutputFolderTest, WavNamesInCodePointOrder) {
  for (const char* name : {"b.wav", "A.WAV", "1.Wav", "a.txt", "é.wav", "c.wave"}) touch(name);
  fs::create_directory(dir_ / "sub.wav");
  EXPECT_EQ(list_wav_names(dir_.string()), (std::vector<std::string>{"1.Wav", "A.WAV", "b.wav", "sub.wav", "é.wav"}));
  EXPECT_THROW(list_wav_names((dir_ / "missing").string()), OSError);
}

TEST_F(OutputFolderTest, RemovesOnlyMainSpeakerWavFiles) {
  for (const char* name : {"main_speaker_0.wav", "main_speaker_12.wav", "mix.wav", "main_speaker_1.txt", "log.txt"}) {
    touch(name);
  }
  fs::create_directory(dir_ / "main_speaker_9.wav");
  EXPECT_EQ(remove_main_speaker_files(dir_.string()),
            (std::vector<std::string>{"main_speaker_0.wav", "main_speaker_12.wav"}));
  EXPECT_TRUE(fs::exists(dir_ / "mix.wav"));
  EXPECT_TRUE(fs::exists(dir_ / "main_speaker_1.txt"));
  EXPECT_TRUE(fs::is_directory(dir_ / "main_speaker_9.wav"));
  EXPECT_FALSE(fs::exists(dir_ / "main_speaker_0.wav"));
}

TEST_F(OutputFolderTest, CanonicalFolderJoinsSpellings) {
  fs::create_directory(dir_ / "x");
  EXPECT_EQ(canonical_folder((dir_ / "x").string()), canonical_folder((dir_ / "." / "x" / "").string() + "/"));
  EXPECT_FALSE(is_directory(""));
  EXPECT_TRUE(is_directory(dir_.string()));
}

}  // namespace
}  // namespace speech
