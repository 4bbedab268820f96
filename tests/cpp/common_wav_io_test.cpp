// Audio files are opened only when they are regular files: a FIFO without a
// writer blocks whoever opens it to read, for ever.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "common/errors.h"
#include "common/wav_io.h"
#include "scratch_folder.h"

namespace speech::common {
namespace {

class Fifo : public ScratchFolderTest {
 protected:
  void SetUp() override { ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0); }

  // Runs `open_it` while a watcher frees any reader that blocks on the pipe
  // (it opens the other end once a reader waits, then closes it), so a
  // reader that opens the pipe fails the test instead of hanging it.
  template <typename F>
  bool reader_opened_pipe(F&& open_it) {
    std::atomic<bool> done{false};
    std::atomic<bool> opened{false};
    std::thread watcher([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!done && std::chrono::steady_clock::now() < deadline) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          opened = true;
          ::close(fd);
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    open_it();
    done = true;
    watcher.join();
    return opened;
  }

  const std::string path_ = at("pipe.wav");
};

TEST_F(Fifo, ReaderRefusesAPipeWithoutOpeningIt) {
  std::string text;
  const bool opened = reader_opened_pipe([&] {
    try {
      AudioFileReader reader(path_);
    } catch (const SndfileError& e) {
      text = e.reason;
    }
  });
  EXPECT_FALSE(opened);
  EXPECT_EQ(text, "Not a regular file.");
}

TEST_F(Fifo, WholeReadRefusesAPipeWithoutOpeningIt) {
  std::string text;
  const bool opened = reader_opened_pipe([&] {
    try {
      read_audio(path_);
    } catch (const OSError& e) {
      text = e.what();
    }
  });
  EXPECT_FALSE(opened);
  EXPECT_EQ(text, "Error opening '" + path_ + "': Not a regular file.");
}

TEST(WavIo, MissingFilesAndFoldersAreLeftToLibsndfile) {
  try {
    AudioFileReader reader("/nonexistent/wav_io_test.wav");
    FAIL() << "opened a missing file";
  } catch (const SndfileError& e) {
    EXPECT_NE(e.reason, "Not a regular file.");
  }
  EXPECT_THROW(AudioFileReader("/tmp"), SndfileError);
}

class AudioFileFailures : public ScratchFolderTest {};

struct FailureCase {
  const char* name;
  std::string path;
  const char* action;
  std::function<void(const std::string&)> attempt;
};

// Every failure names its file as libsndfile's own messages do, so a log
// line says which of many files could not be used.
TEST_F(AudioFileFailures, NameTheFileTheyWereAbout) {
  std::ofstream(at("text.wav")) << "not a wav file";
  // A write into a missing folder fails before libsndfile opens anything:
  // common_whole_wav_write_test has it.
  const FailureCase cases[] = {
      {"read a missing file", at("none.wav"), "opening", [](const std::string& path) { read_audio(path); }},
      {"read what is not audio", at("text.wav"), "opening", [](const std::string& path) { read_audio(path); }},
      {"read a path that is not UTF-8", at("t\xff.wav"), "opening", [](const std::string& path) { read_audio(path); }},
      {"open a missing file for reading in parts", at("none.wav"), "opening",
       [](const std::string& path) { AudioFileReader reader(path); }},
      {"open what is not audio for reading in parts", at("text.wav"), "opening",
       [](const std::string& path) { AudioFileReader reader(path); }},
  };
  for (const FailureCase& c : cases) {
    try {
      c.attempt(c.path);
      ADD_FAILURE() << c.name << ": nothing failed";
    } catch (const SndfileError& e) {
      EXPECT_EQ(e.path, c.path) << c.name;
      EXPECT_FALSE(e.reason.empty()) << c.name;
      EXPECT_EQ(std::string(e.what()), "Error " + std::string(c.action) + " '" + c.path + "': " + e.reason) << c.name;
    }
  }
}

}  // namespace
}  // namespace speech::common
