#include "common/os_path.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace speech::common {
namespace {

struct DirCase {
  const char* path;
  const char* dirname;
  const char* basename;
};

TEST(OsPath, DirnameAndBasenameAsPosixpath) {
  const DirCase cases[] = {
      {"log.txt", "", "log.txt"},   {"/log.txt", "/", "log.txt"},   {"a/b/log.txt", "a/b", "log.txt"},
      {"a//log.txt", "a", "log.txt"}, {"//x", "//", "x"},          {"a/b/", "a/b", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(path_dirname(c.path), c.dirname) << c.path;
    EXPECT_EQ(path_basename(c.path), c.basename) << c.path;
  }
}

TEST(OsPath, JoinKeepsTextAsGiven) {
  EXPECT_EQ(path_join("out", "x"), "out/x");
  EXPECT_EQ(path_join("out/", "x"), "out/x");
  EXPECT_EQ(path_join("", "x"), "x");
  EXPECT_EQ(path_join("out", "/abs"), "/abs");
  EXPECT_EQ(path_join("./a//", "x"), "./a//x");
}

struct SplitCase {
  const char* path;
  const char* root;
  const char* extension;
};

// Hidden names keep their leading dots; a dot in a folder name is no
// extension of the file inside it.
TEST(OsPath, SplitextAsPosixpath) {
  const SplitCase cases[] = {
      {"a.wav", "a", ".wav"},        {"a.b.WAV", "a.b", ".WAV"},    {".wav", ".wav", ""},
      {"..wav", "..wav", ""},        {"...x.wav", "...x", ".wav"},  {".a.wav", ".a", ".wav"},
      {"noext", "noext", ""},        {"a.", "a", "."},              {"é说话.wav", "é说话", ".wav"},
      {"d.wav/", "d.wav/", ""},      {"d.x/noext", "d.x/noext", ""}, {"/d/.hidden", "/d/.hidden", ""},
      {"/d/x.tar.gz", "/d/x.tar", ".gz"}, {"", "", ""},             {"a/..", "a/..", ""},
  };
  for (const auto& c : cases) {
    const SplitPath split = path_splitext(c.path);
    EXPECT_EQ(split.root, c.root) << c.path;
    EXPECT_EQ(split.extension, c.extension) << c.path;
  }
}

TEST(OsPath, ComponentsKeepEmptyOnes) {
  using Parts = std::vector<std::string_view>;
  EXPECT_EQ(path_components("a/b"), (Parts{"a", "b"}));
  EXPECT_EQ(path_components("/a//b/"), (Parts{"", "a", "", "b", ""}));
  EXPECT_EQ(path_components("."), (Parts{"."}));
  EXPECT_EQ(path_components(""), (Parts{""}));
}

}  // namespace
}  // namespace speech::common
