// Preloaded (LD_PRELOAD) into a program under test: a disk whose file breaks part-way through.
// Reads by offset (pread) are served up to the offset in TUVA_FAIL_READS_FROM and fail with EIO
// from there on, so a program reading a file in pieces gets its first piece and then an error.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/types.h>

namespace {

using ReadAt = ssize_t (*)(int, void*, size_t, off_t);

ssize_t Served(const char* name, int fd, void* buffer, size_t count, off_t offset) {
  static const ReadAt real = reinterpret_cast<ReadAt>(dlsym(RTLD_NEXT, name));
  const char* from = getenv("TUVA_FAIL_READS_FROM");
  if (from != nullptr) {
    const off_t limit = static_cast<off_t>(strtoll(from, nullptr, 10));
    if (offset >= limit) {
      errno = EIO;
      return -1;
    }
    if (offset + static_cast<off_t>(count) > limit) count = static_cast<size_t>(limit - offset);
  }
  return real(fd, buffer, count, offset);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return Served("pread", fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return Served("pread64", fd, buffer, count, offset);
}
