// LD_PRELOAD shim that makes the reading of one file fail like a disk or a
// network file system that gives up midway: the first ITN_READ_FAIL_AFTER
// bytes of the file named by ITN_READ_FAIL_PATH are delivered, then every
// read of it fails with EIO. Reads of any other file pass through.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

ReadFunction RealRead() {
  static const auto real = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
  return real;
}

struct Target {
  bool set = false;
  dev_t device = 0;
  ino_t inode = 0;
  long long limit = 0;
};

const Target& FailingFile() {
  static const Target target = [] {
    Target t;
    const char* path = std::getenv("ITN_READ_FAIL_PATH");
    const char* after = std::getenv("ITN_READ_FAIL_AFTER");
    struct stat info {};
    if (path == nullptr || after == nullptr || ::stat(path, &info) != 0) return t;
    t.set = true;
    t.device = info.st_dev;
    t.inode = info.st_ino;
    t.limit = std::atoll(after);
    return t;
  }();
  return target;
}

std::atomic<long long> delivered{0};

bool IsFailingFile(int fd) {
  const Target& target = FailingFile();
  struct stat info {};
  return target.set && ::fstat(fd, &info) == 0 && info.st_dev == target.device &&
         info.st_ino == target.inode;
}

ssize_t ShimRead(int fd, void* buffer, size_t count) {
  if (!IsFailingFile(fd)) return RealRead()(fd, buffer, count);
  const long long left = FailingFile().limit - delivered.load();
  if (left <= 0) {
    errno = EIO;
    return -1;
  }
  if (static_cast<long long>(count) > left) count = static_cast<size_t>(left);
  const ssize_t got = RealRead()(fd, buffer, count);
  if (got > 0) delivered += got;
  return got;
}

}  // namespace

extern "C" {

ssize_t read(int fd, void* buffer, size_t count) { return ShimRead(fd, buffer, count); }

// What a fortified build calls instead of read.
ssize_t __read_chk(int fd, void* buffer, size_t count, size_t /*buffer_size*/) {
  return ShimRead(fd, buffer, count);
}

}  // extern "C"
