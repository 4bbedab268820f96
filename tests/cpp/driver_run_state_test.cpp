// What a leadvoice run remembers across its recordings: which folders are
// taken and by whom, and where each recording's log goes.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "driver/folder_claims.h"
#include "driver/recording_logs.h"
#include "scratch_folder.h"

namespace speech::driver {
namespace {

namespace fs = std::filesystem;

TEST(RecordingLogs, ASharedLogIsTruncatedByTheFirstOpeningThenAppendedTo) {
  RecordingLogs logs;
  const std::optional<std::string> shared = std::string("run.log");
  const struct {
    std::optional<std::string> shared_log;
    const char* folder;
    bool opens;
    const char* path;
    bool append;
  } steps[] = {
      {std::nullopt, "out/a", true, "out/a/log.txt", false},
      // A shared log that could not be opened is truncated by the next task.
      {shared, "out/b", false, "run.log", false},
      {shared, "out/c", true, "run.log", false},
      {std::nullopt, "out/d", true, "out/d/log.txt", false},
      {shared, "out/e", true, "run.log", true},
      {shared, "out/f", false, "run.log", true},
      {shared, "out/g", true, "run.log", true},
  };
  for (const auto& step : steps) {
    const LogTarget target = logs.next(step.shared_log, step.folder);
    EXPECT_EQ(target.path, step.path) << step.folder;
    EXPECT_EQ(target.append, step.append) << step.folder;
    EXPECT_EQ(target.shared, step.shared_log.has_value()) << step.folder;
    if (step.opens) logs.opened(target);
  }
}

using FolderClaimsTest = ScratchFolderTest;

TEST_F(FolderClaimsTest, OneFolderUnderAnySpellingHasOneOwner) {
  const fs::path& dir = dir_;
  fs::create_directory(dir / "a");
  fs::create_directory_symlink(dir / "a", dir / "link");
  FolderClaims<std::string> claims;
  EXPECT_EQ(claims.owner_of((dir / "a").string()), nullptr);
  claims.claim((dir / "a").string(), "first");
  claims.claim((dir / "a").string(), "second");
  for (const fs::path& spelling : {dir / "a", dir / "./a", dir / "x/../a", dir / "link"}) {
    const std::string* owner = claims.owner_of(spelling.string());
    ASSERT_NE(owner, nullptr) << spelling;
    EXPECT_EQ(*owner, "first");
  }
  // A folder not made yet is claimed by its spelling.
  claims.claim((dir / "later").string(), "third");
  EXPECT_EQ(*claims.owner_of((dir / "./later").string()), "third");
  EXPECT_EQ(claims.owner_of((dir / "b").string()), nullptr);
}

}  // namespace
}  // namespace speech::driver
