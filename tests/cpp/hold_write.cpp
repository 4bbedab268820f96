// Loaded with LD_PRELOAD by tests that kill a program in the middle of
// writing a file. At a write(2) into a file whose path holds
// HOLD_WRITE_PATH_PART and that already holds more than a page, the process
// makes the file HOLD_WRITE_READY and then waits there until it is killed,
// the file half written and still open.
// Without HOLD_WRITE_PATH_PART every write goes straight through.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr off_t kPage = 4096;

bool writes_into(int fd, const char* part) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length <= 0) return false;
  target[length] = '\0';
  if (std::strstr(target, part) == nullptr) return false;
  struct stat st {};
  return ::fstat(fd, &st) == 0 && st.st_size > kPage;
}

[[noreturn]] void hold() {
  if (const char* ready = std::getenv("HOLD_WRITE_READY")) {
    const int fd = ::open(ready, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }
  for (;;) ::pause();
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
  static const char* const part = std::getenv("HOLD_WRITE_PATH_PART");
  if (part != nullptr && fd > 2 && writes_into(fd, part)) hold();
  return real(fd, buffer, count);
}
