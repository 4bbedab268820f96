#include "driver/output_folder.h"
#include "driver/stream_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/errors.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace speech::driver {
namespace {

class OutputFolderTest : public ScratchFolderTest {
 protected:
  void touch(const std::string& name) { std::ofstream(dir_ / name) << "x"; }
};

// Code points of the names as the interpreter decodes them: an undecodable
// byte 0xff stands for U+DCFF, before U+E000 whose first byte is smaller.
TEST_F(OutputFolderTest, WavNamesInCodePointOrder) {
  for (const char* name : {"b.wav", "A.WAV", "1.Wav", "a.txt", "é.wav", "c.wave", "\xee\x80\x80.wav", "\xff.wav"}) {
    touch(name);
  }
  fs::create_directory(dir_ / "sub.wav");
  EXPECT_EQ(list_wav_names(dir_.string()), (std::vector<std::string>{"1.Wav", "A.WAV", "b.wav", "sub.wav", "é.wav",
                                                                     "\xff.wav", "\xee\x80\x80.wav"}));
  try {
    list_wav_names(at("missing"));
    ADD_FAILURE() << "a missing folder was listed";
  } catch (const common::OSError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot list '" + at("missing") + "': No such file or directory");
  }
}

TEST_F(OutputFolderTest, RemovesOnlyStreamFilesAndLinks) {
  for (const char* name : {"main_speaker_0.wav", "main_speaker_12.wav", "other_speaker_3.wav", "mix.wav",
                           "main_speaker_1.txt", "other_speaker_2.WAV", "log.txt", "xmain_speaker_0.wav",
                           "other_speakers.wav"}) {
    touch(name);
  }
  fs::create_directory(dir_ / "main_speaker_9.wav");
  ASSERT_EQ(::mkfifo((dir_ / "other_speaker_8.wav").c_str(), 0600), 0);
  // A link goes, what it points to stays; a dangling link goes too.
  fs::create_directory(dir_ / "keep");
  std::ofstream(dir_ / "keep" / "target.wav") << "x";
  fs::create_symlink(dir_ / "keep" / "target.wav", dir_ / "other_speaker_1.wav");
  fs::create_symlink(dir_ / "nowhere", dir_ / "main_speaker_5.wav");
  EXPECT_EQ(remove_stream_files(dir_.string()),
            (std::vector<std::string>{"main_speaker_0.wav", "main_speaker_12.wav", "main_speaker_5.wav",
                                      "other_speaker_1.wav", "other_speaker_3.wav"}));
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"keep", "log.txt", "main_speaker_1.txt", "main_speaker_9.wav", "mix.wav",
                                            "other_speaker_2.WAV", "other_speaker_8.wav", "other_speakers.wav",
                                            "xmain_speaker_0.wav"}));
  EXPECT_TRUE(fs::exists(dir_ / "keep" / "target.wav"));
  EXPECT_THROW(remove_stream_files((dir_ / "missing").string()), common::OSError);
}

// A killed run may have been writing a stream that no later run writes
// again: the clean-up takes its temporary, and leaves other results'.
TEST_F(OutputFolderTest, RemovesTheTemporariesThatKilledRunsLeftOfStreams) {
  for (const char* name : {".main_speaker_3.wav.Ab3dEf", ".other_speaker_1.wav.Zz0000", ".mix.wav.Ab3dEf",
                           ".main_speaker_3.wav.Ab3dE", ".log.txt.Ab3dEf", "main_speaker_3.wav.Ab3dEf"}) {
    touch(name);
  }
  EXPECT_EQ(remove_stream_files(dir_.string()), std::vector<std::string>{});
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".log.txt.Ab3dEf", ".main_speaker_3.wav.Ab3dE", ".mix.wav.Ab3dEf",
                                            "main_speaker_3.wav.Ab3dEf"}));
}

TEST(StreamFileNames, BothPatternsExactly) {
  EXPECT_TRUE(is_stream_file_name("main_speaker_0.wav"));
  EXPECT_TRUE(is_stream_file_name("other_speaker_.wav"));
  EXPECT_FALSE(is_stream_file_name("other_speaker.wav"));
  EXPECT_FALSE(is_stream_file_name("main_speaker_0.wav.bak"));
  EXPECT_FALSE(is_stream_file_name("Main_speaker_0.wav"));
}

TEST_F(OutputFolderTest, CanonicalFolderJoinsSpellings) {
  fs::create_directory(dir_ / "x");
  EXPECT_EQ(canonical_folder((dir_ / "x").string()), canonical_folder((dir_ / "." / "x" / "").string() + "/"));
  EXPECT_FALSE(common::is_directory(""));
  EXPECT_TRUE(common::is_directory(dir_.string()));
}

}  // namespace
}  // namespace speech::driver
