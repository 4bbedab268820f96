#include "triage/utterance_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "common/file_kind.h"
#include "scratch_folder.h"
#include "triage/file_identity.h"

namespace speech::triage {
namespace {

struct IdCase {
  std::string utt_id;
  std::string reason;  // empty: safe
};

class UttIdTest : public ::testing::TestWithParam<IdCase> {};

TEST_P(UttIdTest, RefusesIdsLeadingOutOrTooLong) {
  EXPECT_EQ(unsafe_utt_id_reason(GetParam().utt_id, 255), GetParam().reason) << GetParam().utt_id;
}

INSTANTIATE_TEST_SUITE_P(
    Ids, UttIdTest,
    ::testing::Values(IdCase{"utt1", ""}, IdCase{"spk/utt1", ""}, IdCase{"a..b", ""}, IdCase{"...", ""},
                      IdCase{".", ""}, IdCase{"说话人/甲", ""}, IdCase{std::string(255, 'x'), ""},
                      IdCase{"/etc/x", "utt_id is an absolute path"},
                      IdCase{"..", "utt_id has a '..' component"},
                      IdCase{"a/..", "utt_id has a '..' component"},
                      IdCase{"a/../b", "utt_id has a '..' component"},
                      IdCase{std::string("a\0b", 3), "utt_id contains a NUL character"},
                      IdCase{"ok/" + std::string(256, 'y'),
                             "utt_id has a component of 256 bytes, longer than the file system's 255"}));

using UtteranceFiles = ScratchFolderTest;

TEST_F(UtteranceFiles, NameMaxOfAFolderNotYetMade) {
  EXPECT_EQ(name_max_of(at("not/yet/made")), name_max_of(dir_.string()));
  EXPECT_GT(name_max_of(dir_.string()), 0u);
}

TEST_F(UtteranceFiles, FileIdentityThroughLinksAndSpellings) {
  const std::string file = scratch_.write("list.scp", "u a.wav\n");
  ASSERT_EQ(symlink(file.c_str(), at("soft").c_str()), 0);
  ASSERT_EQ(link(file.c_str(), at("hard").c_str()), 0);
  scratch_.write("other", "u a.wav\n");
  EXPECT_TRUE(same_existing_file(file, at("./list.scp")));
  EXPECT_TRUE(same_existing_file(file, at("soft")));
  EXPECT_TRUE(same_existing_file(file, at("hard")));
  EXPECT_FALSE(same_existing_file(file, at("other")));
  EXPECT_FALSE(same_existing_file(file, at("missing")));

  EXPECT_TRUE(common::is_regular_file(at("soft")));
  EXPECT_FALSE(common::is_regular_file(dir_.string()));
  EXPECT_FALSE(common::is_regular_file(file + std::string("\0x", 2)));
  ASSERT_EQ(symlink(at("nowhere").c_str(), at("dangling").c_str()), 0);
  EXPECT_FALSE(common::is_regular_file(at("dangling")));
}

}  // namespace
}  // namespace speech::triage
