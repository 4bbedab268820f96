#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corpus/extension_filter.h"
#include "common/lexical_path.h"
#include "corpus/room_index.h"
#include "common/text_order.h"
#include "corpus/validation_entry.h"

namespace speech::corpus {
namespace {

TEST(CorpusTextOrder, SortsByDecodedCodePointNotByBytes) {
  // "\x80" decodes to U+DC80, which sorts after U+20AC ("€") although its
  // byte is smaller; an encoded surrogate is three undecodable bytes.
  std::vector<std::string> names{"\x80x", "\xe2\x82\xac", "a", "Z", "\xed\xa0\x80", "\xc3\xa9", "a", "\xff"};
  common::sort_unique_by_text(names);
  const std::vector<std::string> expected{"Z", "a", "\xc3\xa9", "\xe2\x82\xac", "\x80x", "\xed\xa0\x80", "\xff"};
  EXPECT_EQ(names, expected);
}

TEST(CorpusTextOrder, StrictUtf8AsTheInterpreterDecodesIt) {
  const struct {
    const char* bytes;
    bool valid;
  } cases[] = {
      {"plain", true},          {"\xc3\xa9", true},          {"\xf0\x9f\x8e\xb5", true},
      {"\xc0\x80", false},      {"\xe0\x80\x80", false},     {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false}, {"\xe2\x82", false},     {"\xe2\x82x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(common::is_strict_utf8(c.bytes), c.valid) << c.bytes;
}

TEST(CorpusLexicalPath, NormalisesAsPosixpath) {
  const struct {
    const char* path;
    const char* normal;
  } cases[] = {
      {"", "."},           {"/", "/"},          {"//", "//"},           {"///a", "/a"},
      {"//a//b/", "//a/b"}, {"a/./b/../c", "a/c"}, {"../a/..", ".."},    {"/../a", "/a"},
      {"a/../..", ".."},   {"./", "."},         {"/a/b/../../..", "/"}, {"a/b/../../../x", "../x"},
  };
  for (const auto& c : cases) EXPECT_EQ(common::normalize_path(c.path), c.normal) << c.path;
}

TEST(CorpusLexicalPath, AbsoluteAgainstTheWorkingDirectory) {
  common::WorkingDirectory cwd;
  EXPECT_EQ(common::absolute_path("/x/./y", cwd), "/x/y");
  EXPECT_EQ(common::absolute_path("y/../z", cwd), common::normalize_path(cwd.get() + "/z"));
}

TEST(CorpusExtension, LastExtensionInAnyCase) {
  const ExtensionFilter filter({".wav"}, nullptr);
  for (const char* accepted : {"/d/A.WAV", "x.tar.wav", ".a.wav", "...x.Wav"}) {
    EXPECT_TRUE(filter.accepts(accepted)) << accepted;
  }
  for (const char* refused : {"/d/x.wav.bak", "/d.wav/", ".wav", "..wav", "x.", "noext", "/d.wav/x"}) {
    EXPECT_FALSE(filter.accepts(refused)) << refused;
  }
}

TEST(CorpusRooms, TypeAndRoomAreTheLastTwoDirectories) {
  const std::vector<RoomType> types = group_by_room({"//x.wav", "/c/t/r/x/y.wav", "/rirs/x.wav", "/x.wav"});
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types[0].name, "unknown_type");
  ASSERT_EQ(types[0].rooms.size(), 2u);
  EXPECT_EQ(types[0].rooms[0].name, "unknown_room");
  EXPECT_EQ(types[0].rooms[0].paths, (std::vector<std::string>{"//x.wav", "/x.wav"}));
  EXPECT_EQ(types[0].rooms[1].name, "rirs");
  EXPECT_EQ(types[1].name, "r");
  ASSERT_EQ(types[1].rooms.size(), 1u);
  EXPECT_EQ(types[1].rooms[0].name, "x");
}

TEST(CorpusValidationEntry, RefusesAbsoluteAndClimbingEntries) {
  const struct {
    const char* entry;
    EntryProblem problem;
  } cases[] = {
      {"a.wav", EntryProblem::kNone},           {"sub/./b.wav", EntryProblem::kNone},
      {"../../c.wav", EntryProblem::kNone},     {"../../../c.wav", EntryProblem::kClimbsOut},
      {"a/../../../../x", EntryProblem::kClimbsOut}, {"/etc/passwd", EntryProblem::kAbsolute},
      {"../../../r/x.wav", EntryProblem::kClimbsOut},
  };
  for (const auto& c : cases) EXPECT_EQ(entry_problem(c.entry, 2), c.problem) << c.entry;
}

}  // namespace
}  // namespace speech::corpus
