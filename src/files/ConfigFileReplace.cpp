#include "files/ConfigFileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tuva {
namespace {

std::string Failure(const std::string& what, const std::string& path) {
  std::string text = "cannot ";
  text += what;
  text += " ";
  text += path;
  text += ": ";
  text += std::strerror(errno);
  return text;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// What the replacement keeps of the file it replaces.
struct Original {
  bool exists = false;
  struct stat info {};
  std::vector<std::uint8_t> tail;  // the bytes beyond the image
};

// Reads the existing file's tail and its owner and permissions. A read that fails is a failure:
// taking it for the end of the file would cut the tail off the new file.
bool ReadOriginal(const std::string& path, Original& original) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  original.exists = true;
  bool ok = ::fstat(fd, &original.info) == 0;
  const off_t size = ok ? original.info.st_size : 0;
  if (size > static_cast<off_t>(kImageSize)) {
    std::vector<std::uint8_t>& tail = original.tail;
    tail.resize(static_cast<std::size_t>(size) - kImageSize);
    std::size_t done = 0;
    while (ok && done < tail.size()) {
      const ssize_t got = ::pread(fd, tail.data() + done, tail.size() - done,
                                  static_cast<off_t>(kImageSize + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;
      if (got <= 0) break;  // 0: the file shrank meanwhile; what is there is the tail
      done += static_cast<std::size_t>(got);
    }
    tail.resize(done);
  }
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

// A new file beside `target`, created with the permissions a new file gets (the process's umask
// applies, and no process-wide setting changes on the way). Its name is left in `name`.
int CreateBeside(const std::filesystem::path& target, std::string& name) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path directory =
      target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string file = ".";
    file += target.filename().string();
    file += '.';
    file += std::to_string(::getpid());
    file += '.';
    file += std::to_string(counter++);
    name = (directory / file).string();
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The new file takes the old one's owner and group where this process may give them (root, or a
// group it belongs to), and then its permission bits, which a change of owner could clear.
bool TakeOver(int fd, const Original& original) {
  if (!original.exists) return true;
  if (::fchown(fd, original.info.st_uid, original.info.st_gid) != 0) {
    (void)!::fchown(fd, static_cast<uid_t>(-1), original.info.st_gid);
  }
  return ::fchmod(fd, original.info.st_mode & 07777) == 0;
}

}  // namespace

std::string ReplaceConfigFile(const std::string& path, const ConfigImage& image) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path target = path;
  if (fs::is_symlink(target, error)) target = fs::weakly_canonical(target, error);
  const std::string name = target.string();

  Original original;
  if (!ReadOriginal(name, original)) return Failure("read", name);

  std::string temporary;
  const int fd = CreateBeside(target, temporary);
  if (fd < 0) return Failure("create a file beside", name);
  const bool written = WriteAll(fd, image.bytes().data(), kImageSize) &&
                       WriteAll(fd, original.tail.data(), original.tail.size()) &&
                       TakeOver(fd, original) && ::fsync(fd) == 0;
  const int writeError = errno;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    if (!written) errno = writeError;
    const std::string reason = Failure("write", temporary);
    ::unlink(temporary.c_str());
    return reason;
  }
  if (::rename(temporary.c_str(), name.c_str()) != 0) {
    const std::string reason = Failure("replace", name);
    ::unlink(temporary.c_str());
    return reason;
  }
  // The rename itself reaches the disk with the folder.
  const fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return {};
}

}  // namespace tuva
