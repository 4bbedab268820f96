#include "triage/utterance_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "triage/input_files.h"

namespace speech {
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

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/triage_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(TempDir, NameMaxOfAFolderNotYetMade) {
  EXPECT_EQ(name_max_of(dir_ + "/not/yet/made"), name_max_of(dir_));
  EXPECT_GT(name_max_of(dir_), 0u);
}

TEST_F(TempDir, FileIdentityThroughLinksAndSpellings) {
  const std::string file = dir_ + "/list.scp";
  std::ofstream(file) << "u a.wav\n";
  ASSERT_EQ(symlink(file.c_str(), (dir_ + "/soft").c_str()), 0);
  ASSERT_EQ(link(file.c_str(), (dir_ + "/hard").c_str()), 0);
  std::ofstream(dir_ + "/other") << "u a.wav\n";
  EXPECT_TRUE(same_existing_file(file, dir_ + "/./list.scp"));
  EXPECT_TRUE(same_existing_file(file, dir_ + "/soft"));
  EXPECT_TRUE(same_existing_file(file, dir_ + "/hard"));
  EXPECT_FALSE(same_existing_file(file, dir_ + "/other"));
  EXPECT_FALSE(same_existing_file(file, dir_ + "/missing"));

  EXPECT_TRUE(is_regular_file(dir_ + "/soft"));
  EXPECT_FALSE(is_regular_file(dir_));
  EXPECT_FALSE(is_regular_file(file + std::string("\0x", 2)));
  ASSERT_EQ(symlink((dir_ + "/nowhere").c_str(), (dir_ + "/dangling").c_str()), 0);
  EXPECT_FALSE(is_regular_file(dir_ + "/dangling"));
}

}  // namespace
}  // namespace speech
