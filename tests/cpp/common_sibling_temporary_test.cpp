// The writer's temporaries: which names are the temporary of which result.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/sibling_temporary.h"

namespace speech::common {
namespace {

TEST(TemporaryResultName, NamesTheResultOfTheWritersOwnPatternOnly) {
  const struct {
    std::string name;
    std::optional<std::string> result;
  } cases[] = {
      {".mix.wav.Ab3dEf", "mix.wav"},
      {".main_speaker_0.wav.000000", "main_speaker_0.wav"},
      {".a.zzzzzz", "a"},
      {"..hidden.wav.Ab3dEf", ".hidden.wav"},
      {".mix.wav.Ab3dE", std::nullopt},     // tail too short
      {".mix.wav.Ab3dEfg", std::nullopt},   // tail too long
      {".mix.wav.Ab3-Ef", std::nullopt},    // not a letter or digit
      {".mix.wav.Ab3dE.", std::nullopt},
      {"mix.wav.Ab3dEf", std::nullopt},     // not hidden
      {".mix.wavXAb3dEf", std::nullopt},    // no dot before the tail
      {"..Ab3dEf", std::nullopt},           // no result name
      {"...Ab3dEf", std::nullopt},          // "." is no result
      {"....Ab3dEf", std::nullopt},         // nor ".."
      {".mix.wav", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(temporary_result_name(c.name), c.result) << c.name;
  }
  EXPECT_EQ(temporary_result_name(std::string(".a\0b.Ab3dEf", 11)), std::nullopt);
}

}  // namespace
}  // namespace speech::common
