#include "common/output_path.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "scratch_folder.h"

namespace speech::common {
namespace {

namespace fs = std::filesystem;

bool is_log(std::string_view name) { return name == "log.txt"; }

// "S" is a save folder with one utterance folder "a" (its log written) and
// no "b" yet; "SL" links to it and "PL" to the scratch folder itself.
class OutputPathTest : public ScratchFolderTest {
 protected:
  void SetUp() override {
    fs::create_directories(at("S/a"));
    scratch_.write("S/a/log.txt", "log");
    scratch_.write("ck.pth", "weights");
    fs::create_directory_symlink("S", at("SL"));
    fs::create_directory_symlink(".", at("PL"));
  }
};

TEST_F(OutputPathTest, OnePlaceUnderEverySpelling) {
  fs::create_symlink("ck.pth", at("soft"));
  fs::create_hard_link(at("ck.pth"), at("hard"));
  fs::create_symlink("S/b/new.txt", at("dangling"));
  fs::create_directory_symlink("S/a", at("AL"));
  const struct {
    std::string output;
    std::string other;
    bool same;
  } cases[] = {
      {at("ck.pth"), at("./S/../ck.pth"), true},
      {at("ck.pth"), at("soft"), true},
      {at("ck.pth"), at("hard"), true},
      {at("ck.pth"), at("PL/ck.pth"), true},
      {at("ck.pth"), at("S/a/log.txt"), false},
      // Nothing there yet: the nearest existing folder and the rest.
      {at("S/b/new.txt"), at("SL/b/new.txt"), true},
      {at("S/b/new.txt"), at("PL/SL/b//./new.txt"), true},
      {at("S/b/new.txt"), at("dangling"), true},
      {at("S/b/c/new.txt"), at("SL/b/x/../c/new.txt"), true},
      {at("S/b/new.txt"), at("S/b/other.txt"), false},
      {at("S/b/new.txt"), at("b/new.txt"), false},
      // ".." after a link leaves the folder the link leads to, as the kernel does.
      {at("AL/../new.txt"), at("S/new.txt"), true},
      {at("AL/../new.txt"), at("new.txt"), false},
      {at("ck.pth"), at("missing.pth"), false},
  };
  for (const auto& c : cases) EXPECT_EQ(OutputPath(c.output).is(c.other), c.same) << c.output << " ~ " << c.other;
}

TEST_F(OutputPathTest, AFileOfAFolderBeforeOrAfterTheFolderIsMade) {
  fs::create_hard_link(at("S/a/log.txt"), at("hard.jsonl"));
  fs::create_symlink("SL/b/log.txt", at("dangling.jsonl"));
  scratch_.write("elsewhere.txt", "");
  const struct {
    std::string output;
    std::string folder;
    std::optional<std::string> file;
  } cases[] = {
      {at("SL/a/log.txt"), at("S/a"), at("S/a/log.txt")},
      {at("SL/b/log.txt"), at("S/b"), at("S/b/log.txt")},
      {at("S/b/log.txt"), at("SL/b"), at("SL/b/log.txt")},
      {at("PL/S/b/log.txt"), at("S/b"), at("S/b/log.txt")},
      {at("dangling.jsonl"), at("S/b"), at("S/b/log.txt")},
      {at("hard.jsonl"), at("S/a"), at("S/a/log.txt")},
      {at("SL/b/notes.txt"), at("S/b"), std::nullopt},
      {at("SL/b/log.txt"), at("S/a"), std::nullopt},
      {at("SL/b/c/log.txt"), at("S/b"), std::nullopt},
      {at("elsewhere.txt"), at("S/a"), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(OutputPath(c.output).file_in(c.folder, is_log), c.file) << c.output;
  EXPECT_FALSE(OutputPath(at("SL/b/notes.txt")).may_be_owned(is_log));
  EXPECT_TRUE(OutputPath(at("hard.jsonl")).may_be_owned([](std::string_view) { return false; }));
}

TEST_F(OutputPathTest, AnInputThatAFolderWouldOverwrite) {
  scratch_.write("S/a/notes.txt", "");
  fs::create_symlink("S/a/log.txt", at("soft.wav"));
  fs::create_hard_link(at("S/a/log.txt"), at("hard.wav"));
  // Folders in run order: "b" is not made yet, "a" is listed twice.
  const OutputFolders folders({at("S/b"), at("SL/a"), at("S/a")}, is_log);
  const struct {
    std::string input;
    std::optional<size_t> folder;
  } cases[] = {
      {at("S/a/log.txt"), 1},
      {at("PL/S/a/./log.txt"), 1},
      {at("soft.wav"), 1},
      {at("S/a/notes.txt"), std::nullopt},
      {at("S/b/log.txt"), std::nullopt},  // nothing there to lose
      // A second name of the file survives its removal or replacement.
      {at("hard.wav"), std::nullopt},
  };
  for (const auto& c : cases) {
    const auto holder = folders.holder_of(c.input);
    EXPECT_EQ(holder ? std::optional<size_t>(holder->folder) : std::nullopt, c.folder) << c.input;
    if (holder) {
      EXPECT_EQ(holder->path, at("SL/a/log.txt"));
    }
  }
}

TEST_F(OutputPathTest, ABindMountIsTheFolderItShows) {
  fs::create_directory(at("B"));
  if (::geteuid() != 0 || ::mount(at("S").c_str(), at("B").c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "binding a folder needs root";
  }
  EXPECT_EQ(OutputPath(at("B/b/log.txt")).file_in(at("S/b"), is_log), at("S/b/log.txt"));
  EXPECT_EQ(OutputPath(at("B/a/log.txt")).file_in(at("SL/a"), is_log), at("SL/a/log.txt"));
  EXPECT_TRUE(OutputPath(at("B/a/log.txt")).is(at("S/a/log.txt")));
  ASSERT_EQ(::umount(at("B").c_str()), 0);
}

}  // namespace
}  // namespace speech::common
