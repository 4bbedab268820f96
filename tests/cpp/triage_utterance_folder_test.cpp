#include "triage/utterance_folder.h"

#include <gtest/gtest.h>

#include <string>

#include "scratch_folder.h"

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

}  // namespace
}  // namespace speech::triage
