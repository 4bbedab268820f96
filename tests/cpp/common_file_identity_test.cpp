#include "common/file_identity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "common/file_kind.h"
#include "scratch_folder.h"

namespace speech::common {
namespace {

using FileIdentityTest = ScratchFolderTest;

TEST_F(FileIdentityTest, ThroughLinksAndSpellings) {
  const std::string file = scratch_.write("list.scp", "u a.wav\n");
  ASSERT_EQ(symlink(file.c_str(), at("soft").c_str()), 0);
  ASSERT_EQ(link(file.c_str(), at("hard").c_str()), 0);
  scratch_.write("other", "u a.wav\n");
  EXPECT_TRUE(same_existing_file(file, at("./list.scp")));
  EXPECT_TRUE(same_existing_file(file, at("soft")));
  EXPECT_TRUE(same_existing_file(file, at("hard")));
  EXPECT_FALSE(same_existing_file(file, at("other")));
  EXPECT_FALSE(same_existing_file(file, at("missing")));

  EXPECT_TRUE(is_regular_file(at("soft")));
  EXPECT_FALSE(is_regular_file(dir_.string()));
  EXPECT_FALSE(is_regular_file(file + std::string("\0x", 2)));
  ASSERT_EQ(symlink(at("nowhere").c_str(), at("dangling").c_str()), 0);
  EXPECT_FALSE(is_regular_file(at("dangling")));
}

TEST_F(FileIdentityTest, SamePathByFileWhileItExistsBySpellingOtherwise) {
  const std::string file = scratch_.write("ck.pth", "weights");
  ASSERT_EQ(symlink(file.c_str(), at("soft").c_str()), 0);
  ASSERT_EQ(link(file.c_str(), at("hard").c_str()), 0);
  scratch_.write("other", "weights");
  ASSERT_EQ(mkdir(at("sub").c_str(), 0777), 0);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  const SamePath existing(file);
  for (const std::string& same : {file, at("./ck.pth"), at("sub/../ck.pth"), at("soft"), at("hard"),
                                  std::string("ck.pth")}) {
    EXPECT_TRUE(existing(same)) << same;
  }
  for (const std::string& other : {at("other"), at("missing"), at("sub"), std::string("")}) {
    EXPECT_FALSE(existing(other)) << other;
  }
  // A path that leads to nothing yet is matched by its spelling alone.
  const SamePath missing(at("new/log.txt"));
  for (const std::string& same : {at("new/log.txt"), at("new//./log.txt"), at("sub/../new/log.txt"),
                                  std::string("new/log.txt"), at("new/log.txt/")}) {
    EXPECT_TRUE(missing(same)) << same;
  }
  for (const std::string& other : {at("new/log"), at("log.txt"), file}) EXPECT_FALSE(missing(other)) << other;
  ASSERT_EQ(chdir("/"), 0);
}

}  // namespace
}  // namespace speech::common
