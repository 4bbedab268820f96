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

}  // namespace
}  // namespace speech::common
