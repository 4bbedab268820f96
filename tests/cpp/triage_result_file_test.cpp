#include "triage/result_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scratch_folder.h"

namespace speech::triage {
namespace {

namespace fs = std::filesystem;

class ResultFileTest : public ScratchFolderTest {
 protected:
  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  void write_file(const std::string& text) const { scratch_.write("out.jsonl", text); }

  const std::string path_ = at("out.jsonl");
};

TEST_F(ResultFileTest, OpeningKeepsTheOldLinesUntilTruncated) {
  write_file("{\"old\": 1}\n");
  ResultFile file(path_);
  EXPECT_EQ(contents(), "{\"old\": 1}\n");
  file.truncate();
  EXPECT_EQ(contents(), "");
  file.append("{\"a\": 1}\n");
  file.append("{\"b\": 2}\n");
  EXPECT_EQ(contents(), "{\"a\": 1}\n{\"b\": 2}\n");
}

TEST_F(ResultFileTest, ASecondOpenWhileLockedFailsAndTouchesNothing) {
  auto first = std::make_unique<ResultFile>(path_);
  first->truncate();
  first->append("{\"a\": 1}\n");
  EXPECT_THROW(ResultFile second(path_), ResultFileLocked);
  EXPECT_EQ(contents(), "{\"a\": 1}\n");
  first.reset();
  EXPECT_NO_THROW(ResultFile again(path_));
}

TEST_F(ResultFileTest, AnUnopenablePathKeepsItsErrorNumber) {
  fs::create_directory(dir_ / "adir");
  try {
    ResultFile file((dir_ / "adir").string());
    FAIL() << "a directory opened as the result file";
  } catch (const common::SystemCallError& error) {
    EXPECT_EQ(error.error_number, EISDIR);
    EXPECT_EQ(error.path, (dir_ / "adir").string());
  }
}

// A file-size limit makes the kernel cut a write short and then refuse the
// next one, as a file system that fills up does; it runs in a child so the
// limit never reaches the test runner.
TEST_F(ResultFileTest, AShortWriteLeavesOnlyWholeLines) {
  const std::string line(60, 'x');
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    try {
      ResultFile file(path_);
      file.truncate();
      file.append(line + "\n");
      file.append(line + "\n");
    } catch (const common::SystemCallError& error) {
      _exit(error.error_number == EFBIG ? 0 : 11);
    }
    _exit(12);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(contents(), line + "\n");
}

}  // namespace
}  // namespace speech::triage
