#include "triage/scp_line.h"

#include <gtest/gtest.h>

namespace speech::triage {
namespace {

struct LineCase {
  const char* line;
  ScpLineKind kind;
  const char* utt_id;
  const char* wav_path;
  const char* stripped;
};

class ScpLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ScpLineTest, SplitsAsTheInterpretersStrings) {
  const LineCase& c = GetParam();
  const ScpLine line = parse_scp_line(c.line);
  EXPECT_EQ(line.kind, c.kind);
  EXPECT_EQ(line.utt_id, c.utt_id);
  EXPECT_EQ(line.wav_path, c.wav_path);
  EXPECT_EQ(line.stripped, c.stripped);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScpLineTest,
    ::testing::Values(
        LineCase{"  utt1\t/data/a b.wav \r\n", ScpLineKind::kEntry, "utt1", "/data/a b.wav", "utt1\t/data/a b.wav"},
        LineCase{"a  b  c\n", ScpLineKind::kEntry, "a", "b  c", "a  b  c"},
        LineCase{"  # note\n", ScpLineKind::kSkip, "", "", "# note"},
        LineCase{"utt#1 /x.wav", ScpLineKind::kEntry, "utt#1", "/x.wav", "utt#1 /x.wav"},
        LineCase{"\t \x0b\x0c\x1c\n", ScpLineKind::kSkip, "", "", ""},
        LineCase{"utt2\n", ScpLineKind::kMalformed, "", "", "utt2"},
        // U+3000 and U+00A0 are whitespace, U+200B and U+FEFF are not.
        LineCase{"\u3000id\u00a0p\u2003q\u3000", ScpLineKind::kEntry, "id", "p\u2003q", "id\u00a0p\u2003q"},
        LineCase{"a\u200bb", ScpLineKind::kMalformed, "", "", "a\u200bb"},
        LineCase{"\ufeff# x y", ScpLineKind::kEntry, "\ufeff#", "x y", "\ufeff# x y"},
        LineCase{"\u0085\u2028u \u1680 v\u205f", ScpLineKind::kEntry, "u", "v", "u \u1680 v"},
        // Bytes that are no UTF-8 stay inside their word.
        LineCase{"\xff\xfe a\xc3", ScpLineKind::kEntry, "\xff\xfe", "a\xc3", "\xff\xfe a\xc3"},
        // An overlong space and an encoded surrogate are stray bytes to the
        // interpreter's decoder, not characters, so they split nothing.
        LineCase{"a\xc0\xa0" "b \xed\xa0\x80" "c", ScpLineKind::kEntry, "a\xc0\xa0" "b", "\xed\xa0\x80" "c",
                 "a\xc0\xa0" "b \xed\xa0\x80" "c"},
        LineCase{"a\xe0\x80\xa0" "b", ScpLineKind::kMalformed, "", "", "a\xe0\x80\xa0" "b"},
        // Lone continuation bytes 0x85 and 0xA0 are not U+0085 and U+00A0.
        LineCase{"\xa0u\x85 v\xa0", ScpLineKind::kEntry, "\xa0u\x85", "v\xa0", "\xa0u\x85 v\xa0"}));

TEST(ScpLine, WhitespaceTableMatchesTheInterpreter) {
  const char32_t spaces[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x85, 0xA0, 0x1680,
                             0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (const char32_t c : spaces) EXPECT_TRUE(is_unicode_space(c)) << static_cast<unsigned>(c);
  const char32_t others[] = {0x00, 0x08, 0x21, 0x84, 0x180E, 0x200B, 0x200C, 0x2060, 0xFEFF, 0x3001};
  for (const char32_t c : others) EXPECT_FALSE(is_unicode_space(c)) << static_cast<unsigned>(c);
}

}  // namespace
}  // namespace speech::triage
