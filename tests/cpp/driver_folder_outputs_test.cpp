#include "driver/folder_outputs.h"

#include <gtest/gtest.h>

#include <string>

namespace speech::driver {
namespace {

TEST(FolderOutputs, WhatEachKindOfFolderWritesOrRemoves) {
  const struct {
    std::string name;
    bool mixture, mixture_and_log, log;
  } cases[] = {
      {"mix.wav", true, true, false},
      {"log.txt", false, true, true},
      {"main_speaker_0.wav", true, true, true},
      {"other_speaker_12.wav", true, true, true},
      // The hidden temporaries of the wav files, never of the log.
      {".mix.wav.Ab3dEf", true, true, false},
      {".main_speaker_0.wav.x1Y2z3", true, true, true},
      {".log.txt.Ab3dEf", false, false, false},
      // Look-alikes.
      {".mix.wav.Ab3dE", false, false, false},
      {".mix.wav.Ab3-Ef", false, false, false},
      {"mix.wav.Ab3dEf", false, false, false},
      {"MIX.WAV", false, false, false},
      {"main_speaker_0.wav.bak", false, false, false},
      {"notes.txt", false, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_folder_output(c.name, FolderFiles::kMixture), c.mixture) << c.name;
    EXPECT_EQ(is_folder_output(c.name, FolderFiles::kMixtureAndLog), c.mixture_and_log) << c.name;
    EXPECT_EQ(is_folder_output(c.name, FolderFiles::kLog), c.log) << c.name;
  }
}

}  // namespace
}  // namespace speech::driver
