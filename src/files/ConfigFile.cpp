#include "files/ConfigFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace tuva {
namespace {

constexpr std::string_view kFileCaption = "Tuva";
constexpr std::string_view kOpenErrorMessage = "Open Error!";
constexpr std::string_view kSaveErrorMessage = "Save Error!";

FileResult OpenError() {
  return {FileStatus::OpenError, std::string(kOpenErrorMessage), std::string(kFileCaption)};
}

FileResult SaveError() {
  return {FileStatus::SaveError, std::string(kSaveErrorMessage), std::string(kFileCaption)};
}

FileResult BadFormat(const std::string& path) {
  return {FileStatus::BadFormat,
          "The [" + path + "] is not correct format, the file will discard !", std::string()};
}

// Closes a descriptor when the scope ends, unless it was closed (and checked) already.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Reads up to `buffer.size()` bytes; the count read, or -1 on a read error.
long ReadUpTo(int fd, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long>(done);
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

bool HasFileTag(std::span<const std::uint8_t> block) {
  if (block.size() < kFileTagOffset + kFileTag.size()) return false;
  return std::memcmp(block.data() + kFileTagOffset, kFileTag.data(), kFileTag.size()) == 0;
}

FileResult OpenConfigFile(const std::string& path, ConfigImage& image) {
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return OpenError();

  std::array<std::uint8_t, kImageSize> scratch{};
  const long got = ReadUpTo(file.get(), scratch);
  // A directory opens but cannot be read; that is as much an open error as a missing file.
  if (got < 0) return OpenError();
  file.Close();

  // Only a whole image is taken: a short file would leave part of the image from before.
  if (static_cast<std::size_t>(got) < kImageSize || !HasFileTag(scratch)) return BadFormat(path);

  image.Assign(scratch);
  return {};
}

FileResult SaveConfigFile(const std::string& path, const ConfigImage& image,
                          const std::function<void()>& beforeWrite) {
  // Written over from the start and not truncated: a longer file keeps its tail.
  Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (!file.valid()) return SaveError();
  if (beforeWrite) beforeWrite();
  // A full disk or a failing device must not pass as a saved file.
  if (!WriteAll(file.get(), image.bytes())) return SaveError();
  if (!file.Close()) return SaveError();
  return {};
}

std::string CaptionWithFile(std::string_view caption, std::string_view fileName) {
  const std::size_t bracket = caption.find('[');
  if (bracket == std::string_view::npos) {
    return std::string(caption) + " - [" + std::string(fileName) + "]";
  }
  return std::string(caption.substr(0, bracket + 1)) + std::string(fileName) + "]";
}

}  // namespace tuva
