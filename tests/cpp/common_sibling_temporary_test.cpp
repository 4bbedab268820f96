// The writer's temporaries: which names are a result's temporaries, the
// permissions a temporary gets, and which temporaries a write removes: those
// a killed write left, never one a live write holds, never anything else.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/sibling_temporary.h"
#include "common/wav_io.h"
#include "scratch_folder.h"

namespace speech::common {
namespace {

namespace fs = std::filesystem;

TEST(TemporaryResultName, NamesTheResultOfTheWritersOwnPatternOnly) {
  const struct {
    std::string name;
    std::optional<std::string> result;
  } cases[] = {
      {".mix.wav.Ab3dEf", "mix.wav"},
      {".main_speaker_0.wav.000000", "main_speaker_0.wav"},
      {".a.zzzzzz", "a"},
      {"..hidden.wav.Ab3dEf", ".hidden.wav"},
      {".mix.wav.Ab3dE", std::nullopt},     // tail too short
      {".mix.wav.Ab3dEfg", std::nullopt},   // tail too long
      {".mix.wav.Ab3-Ef", std::nullopt},    // not a letter or digit
      {".mix.wav.Ab3dE.", std::nullopt},
      {"mix.wav.Ab3dEf", std::nullopt},     // not hidden
      {".mix.wavXAb3dEf", std::nullopt},    // no dot before the tail
      {"..Ab3dEf", std::nullopt},           // no result name
      {"...Ab3dEf", std::nullopt},          // "." is no result
      {"....Ab3dEf", std::nullopt},         // nor ".."
      {".mix.wav", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(temporary_result_name(c.name), c.result) << c.name;
  }
  EXPECT_EQ(temporary_result_name(std::string(".a\0b.Ab3dEf", 11)), std::nullopt);
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> temporaries_in(const fs::path& folder) {
  std::vector<std::string> names = names_in(folder);
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& name) { return !temporary_result_name(name); }),
              names.end());
  return names;
}

mode_t permissions(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The test sets the process's umask for one case and puts it back.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

class Temporaries : public ScratchFolderTest {
 protected:
  void write_mix(float level = 0.25f) {
    const std::vector<float> second(16000, level);
    write_wav(at("mix.wav"), second.data(), static_cast<int64_t>(second.size()), 1, 16000);
  }
};

TEST_F(Temporaries, TakeThePermissionsOfAPlainCreate) {
  const struct {
    mode_t umask;
    std::optional<mode_t> existing;  // the target's permissions before the write
    mode_t expected;
  } cases[] = {
      {027, std::nullopt, 0640},
      {000, std::nullopt, 0666},
      {077, std::nullopt, 0600},
      {000, 0600, 0600},  // an existing file keeps its own, as an open for writing keeps them
      {027, 0664, 0664},
  };
  for (const auto& c : cases) {
    const std::string target = at("mix.wav");
    fs::remove(target);
    if (c.existing) {
      std::ofstream(target) << "an earlier mix";
      ASSERT_EQ(::chmod(target.c_str(), *c.existing), 0);
    }
    const ScopedUmask mask(c.umask);
    SiblingTemporary temporary(target);
    struct stat st {};
    ASSERT_EQ(::fstat(temporary.fd(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << std::oct << c.umask;
    temporary.commit();
    EXPECT_EQ(permissions(target), c.expected) << std::oct << c.umask;
  }
}

// A second process that holds the lock on a file as a live writer does,
// until it is killed.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(path.c_str(), O_RDWR);
      if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
      if (::write(ready[1], "x", 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    locked_ = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
  }
  ~LockHolder() { kill(); }
  bool locked() const { return locked_; }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool locked_ = false;
};

TEST_F(Temporaries, AWriteRemovesOnlyItsResultsAbandonedTemporaries) {
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directory(elsewhere);
  scratch_.write("elsewhere/outside.wav", "not ours");
  for (const char* name : {".mix.wav.Ab3dEf", ".mix.wav.000000", ".mix.wav.Held01", ".mix.wav.Ab3dE",
                           ".mix.wav.Ab3dEfg", ".mix.wav.Ab-dEf", "mix.wav.Ab3dEf", ".mix.wavXAb3dEf",
                           ".mix.wav.wav.Ab3dEf", ".other.wav.Ab3dEf", ".main_speaker_0.wav.Ab3dEf"}) {
    scratch_.write(name, "left by an earlier write");
  }
  fs::create_symlink(elsewhere / "outside.wav", dir_ / ".mix.wav.Lnk001");
  fs::create_symlink(dir_ / "missing", dir_ / ".mix.wav.Lnk002");
  fs::create_directory(dir_ / ".mix.wav.Dir001");
  ASSERT_EQ(::mkfifo(at(".mix.wav.Fifo01").c_str(), 0644), 0);
  LockHolder live(at(".mix.wav.Held01"));
  ASSERT_TRUE(live.locked());

  write_mix();
  const std::vector<std::string> kept = {".main_speaker_0.wav.Ab3dEf", ".mix.wav.Ab-dEf", ".mix.wav.Ab3dE",
                                         ".mix.wav.Ab3dEfg", ".mix.wav.Dir001", ".mix.wav.Fifo01",
                                         ".mix.wav.Held01", ".mix.wav.Lnk001", ".mix.wav.Lnk002",
                                         ".mix.wav.wav.Ab3dEf", ".mix.wavXAb3dEf", ".other.wav.Ab3dEf",
                                         "elsewhere", "mix.wav", "mix.wav.Ab3dEf"};
  EXPECT_EQ(names_in(dir_), kept);
  EXPECT_EQ(names_in(elsewhere), std::vector<std::string>{"outside.wav"});
  EXPECT_EQ(read_audio(at("mix.wav")).frames, 16000);

  // Once its writer is gone, the next write of the result takes it.
  live.kill();
  write_mix();
  std::vector<std::string> after = kept;
  after.erase(std::find(after.begin(), after.end(), ".mix.wav.Held01"));
  EXPECT_EQ(names_in(dir_), after);
}

// Samples whose second half cannot be read: the write stops there, the
// process stays, and its writer still holds the temporary half written.
pid_t writer_held_mid_stream(const std::string& path, int64_t frames) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid != 0) {
    ::close(ready[1]);
    char byte = 0;
    const bool held = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return held ? pid : -1;
  }
  static int signal_fd = ready[1];
  struct sigaction hold {};
  hold.sa_handler = [](int) {
    if (::write(signal_fd, "x", 1) != 1) ::_exit(2);
    for (;;) ::pause();
  };
  ::sigaction(SIGSEGV, &hold, nullptr);
  const size_t bytes = static_cast<size_t>(frames) * sizeof(float);
  void* region = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) ::_exit(1);
  auto* samples = static_cast<float*>(region);
  std::fill(samples, samples + frames, 0.25f);
  const size_t half = bytes / 2 / 4096 * 4096;
  ::mprotect(static_cast<char*>(region) + half, bytes - half, PROT_NONE);
  write_wav(path, samples, frames, 1, 16000);
  ::_exit(1);  // never reached: the write stops at the second half
}

TEST_F(Temporaries, AKilledWriteLeavesATemporaryThatTheNextWriteOfTheResultRemoves) {
  std::ofstream(at("mix.wav")) << "an earlier mix";
  const pid_t writer = writer_held_mid_stream(at("mix.wav"), 4 * 16000 * 60);
  ASSERT_GT(writer, 0);
  const std::vector<std::string> held = temporaries_in(dir_);
  ASSERT_EQ(held.size(), 1u);
  EXPECT_GT(fs::file_size(dir_ / held[0]), 44u) << "nothing of the stream was written yet";

  // While its writer lives, another write of the result leaves it.
  write_mix(0.5f);
  EXPECT_EQ(temporaries_in(dir_), held);
  EXPECT_EQ(read_audio(at("mix.wav")).frames, 16000);

  ::kill(writer, SIGKILL);
  ::waitpid(writer, nullptr, 0);
  EXPECT_EQ(temporaries_in(dir_), held) << "a kill removes nothing by itself";
  write_mix();
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"mix.wav"});
}

// Every write sweeps while others create theirs: no writer's temporary is
// taken between its create and its lock, or any time after.
TEST_F(Temporaries, WritersOfOneResultAtOnceNeverTakeEachOthersTemporaries) {
  constexpr int kWriters = 4;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::vector<float> samples(64, 0.25f);
      try {
        for (int i = 0; i < 300; ++i) write_wav(at("mix.wav"), samples.data(), 64, 1, 16000);
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    writers.push_back(pid);
  }
  for (const pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
  }
  EXPECT_EQ(names_in(dir_), std::vector<std::string>{"mix.wav"});
}

}  // namespace
}  // namespace speech::common
