#include "files/ConfigFileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The existing file's bytes beyond the image, and its permission bits; a missing file has no tail
// and gets the permissions a new file would.
bool ReadTail(const std::string& path, std::vector<std::uint8_t>& tail, mode_t& mode) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return false;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
    return true;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  mode = info.st_mode & 07777;
  if (ok && info.st_size > static_cast<off_t>(kImageSize)) {
    tail.resize(static_cast<std::size_t>(info.st_size) - kImageSize);
    std::size_t done = 0;
    while (ok && done < tail.size()) {
      const ssize_t got = ::pread(fd, tail.data() + done, tail.size() - done,
                                  static_cast<off_t>(kImageSize + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // the file shrank meanwhile: keep what is there
      done += static_cast<std::size_t>(got);
    }
    tail.resize(done);
  }
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok;
}

}  // namespace

std::string ReplaceConfigFile(const std::string& path, const ConfigImage& image) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path target = path;
  if (fs::is_symlink(target, error)) target = fs::weakly_canonical(target, error);
  const std::string name = target.string();

  std::vector<std::uint8_t> tail;
  mode_t mode = 0;
  if (!ReadTail(name, tail, mode)) return Failure("read", name);

  fs::path directory = target.parent_path();
  if (directory.empty()) directory = ".";
  std::string temporaryName = ".";
  temporaryName += target.filename().string();
  temporaryName += ".XXXXXX";
  std::string temporary = (directory / temporaryName).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return Failure("create a temporary file in", directory.string());

  const bool written = WriteAll(fd, image.bytes().data(), kImageSize) &&
                       WriteAll(fd, tail.data(), tail.size()) && ::fchmod(fd, mode) == 0 &&
                       ::fsync(fd) == 0;
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
  const int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return {};
}

}  // namespace tuva
