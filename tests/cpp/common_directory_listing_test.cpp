#include "common/directory_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "common/errors.h"
#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace speech::common {
namespace {

using DirectoryListing = ScratchFolderTest;

std::vector<std::string> names_of(const std::vector<DirectoryEntry>& entries) {
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : entries) names.push_back(entry.name);
  return names;
}

// b"\xff" stands for U+DCFF, which sorts before U+E000 ("\xee\x80\x80")
// although its byte is larger; upper case before lower case, digits as
// characters.
TEST_F(DirectoryListing, NamesInTheInterpretersTextOrder) {
  for (const char* name : {"b", "B", "10", "9", ".hidden", "\xee\x80\x80", "\xff", "\xc3\xa9"}) {
    scratch_.write(name, "x");
  }
  EXPECT_EQ(names_of(list_directory(dir_.string())),
            (std::vector<std::string>{".hidden", "10", "9", "B", "b", "\xc3\xa9", "\xff", "\xee\x80\x80"}));
}

TEST_F(DirectoryListing, KindsFollowLinks) {
  scratch_.write("file", "x");
  fs::create_directory(dir_ / "folder");
  fs::create_symlink(dir_ / "file", dir_ / "link_to_file");
  fs::create_directory_symlink(dir_ / "folder", dir_ / "link_to_folder");
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");
  ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0600), 0);
  const std::vector<DirectoryEntry> entries = list_directory(dir_.string());
  struct Expected {
    const char* name;
    EntryKind kind;
    bool is_link;
  };
  const std::vector<Expected> expected = {
      {"dangling", EntryKind::kOther, true},           {"file", EntryKind::kRegularFile, false},
      {"folder", EntryKind::kDirectory, false},        {"link_to_file", EntryKind::kRegularFile, true},
      {"link_to_folder", EntryKind::kDirectory, true}, {"pipe", EntryKind::kOther, false},
  };
  ASSERT_EQ(entries.size(), expected.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].kind, expected[i].kind) << expected[i].name;
    EXPECT_EQ(entries[i].is_link, expected[i].is_link) << expected[i].name;
  }
}

TEST_F(DirectoryListing, FailureNamesTheFolderAndItsErrorNumber) {
  const std::string file = scratch_.write("file", "x");
  const struct {
    std::string path;
    int error_number;
  } cases[] = {{at("missing"), ENOENT}, {file, ENOTDIR}};
  for (const auto& c : cases) {
    try {
      list_directory(c.path);
      ADD_FAILURE() << c.path << " was listed";
    } catch (const SystemCallError& e) {
      EXPECT_EQ(e.error_number, c.error_number);
      EXPECT_EQ(e.path, c.path);
    }
  }
}

}  // namespace
}  // namespace speech::common
