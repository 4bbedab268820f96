#include "driver/paths.h"

#include <gtest/gtest.h>

namespace speech {
namespace {

struct StemCase {
  const char* name;
  const char* stem;
};

TEST(DriverPaths, StemFollowsSplitextRules) {
  const StemCase cases[] = {
      {"a.wav", "a"},      {"a.b.WAV", "a.b"}, {".wav", ".wav"}, {"..wav", "..wav"},
      {"...x.wav", "...x"}, {"noext", "noext"}, {"a.", "a"},      {"é说话.wav", "é说话"},
  };
  for (const auto& c : cases) EXPECT_EQ(path_stem(c.name), c.stem) << c.name;
}

struct DirCase {
  const char* path;
  const char* dirname;
  const char* basename;
};

TEST(DriverPaths, DirnameAndBasenameAsPosixpath) {
  const DirCase cases[] = {
      {"log.txt", "", "log.txt"},   {"/log.txt", "/", "log.txt"},   {"a/b/log.txt", "a/b", "log.txt"},
      {"a//log.txt", "a", "log.txt"}, {"//x", "//", "x"},          {"a/b/", "a/b", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(path_dirname(c.path), c.dirname) << c.path;
    EXPECT_EQ(path_basename(c.path), c.basename) << c.path;
  }
}

TEST(DriverPaths, JoinKeepsTextAsGiven) {
  EXPECT_EQ(path_join("out", "x"), "out/x");
  EXPECT_EQ(path_join("out/", "x"), "out/x");
  EXPECT_EQ(path_join("", "x"), "x");
  EXPECT_EQ(path_join("out", "/abs"), "/abs");
  EXPECT_EQ(path_join("./a//", "x"), "./a//x");
}

TEST(DriverPaths, RecordingFolderIsNamedAfterTheStem) {
  EXPECT_EQ(recording_folder("out", "in/meeting.a.WAV"), "out/meeting.a");
  EXPECT_EQ(recording_folder("out/", "/abs/.wav"), "out/.wav");
  EXPECT_EQ(recording_folder("", "x.wav"), "x");
}

TEST(DriverPaths, WavSuffixInAnyCase) {
  for (const char* name : {"a.wav", "a.WAV", "b.WaV", ".wav"}) EXPECT_TRUE(has_wav_suffix(name)) << name;
  for (const char* name : {"a.wave", "wav", "a.wav.txt", "a_wav", ""}) EXPECT_FALSE(has_wav_suffix(name)) << name;
}

}  // namespace
}  // namespace speech
