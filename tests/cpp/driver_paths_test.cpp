#include "driver/paths.h"

#include <gtest/gtest.h>

namespace speech::driver {
namespace {

TEST(DriverPaths, RecordingFolderIsNamedAfterTheStem) {
  EXPECT_EQ(recording_folder("out", "in/meeting.a.WAV"), "out/meeting.a");
  EXPECT_EQ(recording_folder("out/", "/abs/.wav"), "out/.wav");
  EXPECT_EQ(recording_folder("", "x.wav"), "x");
  EXPECT_EQ(recording_folder("out", "in.d/noext"), "out/noext");
}

TEST(DriverPaths, WavSuffixInAnyCase) {
  for (const char* name : {"a.wav", "a.WAV", "b.WaV", ".wav"}) EXPECT_TRUE(has_wav_suffix(name)) << name;
  for (const char* name : {"a.wave", "wav", "a.wav.txt", "a_wav", ""}) EXPECT_FALSE(has_wav_suffix(name)) << name;
}

}  // namespace
}  // namespace speech::driver
