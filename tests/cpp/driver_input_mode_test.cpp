#include "driver/input_mode.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "scratch_folder.h"

namespace speech::driver {
namespace {

TEST(InputMode, ExactlyOneInputOption) {
  EXPECT_EQ(input_mode(true, false), InputMode::kFolder);
  EXPECT_EQ(input_mode(false, true), InputMode::kTaskList);
  const struct {
    bool path;
    bool jsonl;
    const char* error;
  } refused[] = {{false, false, "必须指定 --data_path 或 --data_jsonl 之一"},
                 {true, true, "--data_path 与 --data_jsonl 互斥，请只指定其中一个"}};
  for (const auto& c : refused) {
    try {
      input_mode(c.path, c.jsonl);
      ADD_FAILURE() << c.error;
    } catch (const common::ValueError& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
  }
}

using FolderRecordingsTest = ScratchFolderTest;

TEST_F(FolderRecordingsTest, WavNamesJoinedToTheFolderInCodePointOrder) {
  for (const char* name : {"b.wav", "A.WAV", "notes.txt"}) std::ofstream(dir_ / name) << "x";
  const std::string folder = dir_.string() + "/";
  const FolderRecordings recordings = folder_recordings(folder);
  EXPECT_EQ(recordings.wav_paths, (std::vector<std::string>{folder + "A.WAV", folder + "b.wav"}));
  EXPECT_EQ(recordings.line, "输入模式: directory -> 共 2 个 wav 文件");
}

TEST_F(FolderRecordingsTest, AFolderWithoutWavsSaysSo) {
  std::ofstream(dir_ / "a.txt") << "x";
  const FolderRecordings recordings = folder_recordings(dir_.string());
  EXPECT_TRUE(recordings.wav_paths.empty());
  EXPECT_EQ(recordings.line, "No .wav files found in: " + dir_.string());
}

TEST_F(FolderRecordingsTest, AFileOrNothingIsNoFolder) {
  std::ofstream(dir_ / "a.wav") << "x";
  for (const std::string& path : {(dir_ / "a.wav").string(), (dir_ / "missing").string(), std::string()}) {
    try {
      folder_recordings(path);
      ADD_FAILURE() << path;
    } catch (const common::ValueError& e) {
      EXPECT_EQ(e.what(), "--data_path must be a directory, got: " + path);
    }
  }
}

}  // namespace
}  // namespace speech::driver
