// A local serial device through termios: raw mode, the kept line settings, no flow control.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "link/Transport.h"

namespace tuva {
namespace {

[[noreturn]] void Raise(std::uint8_t code) {
  RaiseCommError(code, errno);
}

[[noreturn]] void RaisePortInUse(const std::string& path) {
  RaiseCommError(ECommError::kOpen, EBUSY, PortInUseText(path));
}

bool SpeedFor(std::uint32_t rate, speed_t& speed) {
  struct Entry {
    std::uint32_t rate;
    speed_t speed;
  };
  static constexpr Entry kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& entry : kSpeeds) {
    if (entry.rate == rate) {
      speed = entry.speed;
      return true;
    }
  }
  return false;
}

// Puts the rate, data bits, parity and stop bits and the fixed raw-mode, no-flow-control settings
// on the descriptor; false (errno set) when the driver refuses them.
bool ApplySettings(int fd, const LineSettings& line) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return false;
  speed_t speed{};
  if (!SpeedFor(line.baud, speed)) {
    errno = EINVAL;
    return false;
  }
  ::cfmakeraw(&settings);
  settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag |= line.byteSize == 7 ? CS7 : CS8;
  if (line.parity == 1) settings.c_cflag |= PARENB | PARODD;
  if (line.parity == 2) settings.c_cflag |= PARENB;
  if (line.stopBits == 2) settings.c_cflag |= CSTOPB;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
  return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

class TermiosTransport : public Transport {
 public:
  explicit TermiosTransport(int fd) : fd_(fd) {}
  ~TermiosTransport() override {
    if (fd_ >= 0) {
      ::ioctl(fd_, TIOCNXCL);
      ::close(fd_);
    }
  }
  TermiosTransport(const TermiosTransport&) = delete;
  TermiosTransport& operator=(const TermiosTransport&) = delete;

  void Apply(const LineSettings& settings, std::uint8_t failCode) override {
    if (!ApplySettings(fd_, settings)) Raise(failCode);
  }

  void Close() override {
    ::ioctl(fd_, TIOCNXCL);  // the next opener must not find the port still reserved
    const int result = ::close(fd_);
    const int saved = errno;
    // Linux releases the descriptor even when close reports an error, so the port is closed
    // either way; keeping the stale number would let a later call hit whatever file reuses it.
    fd_ = -1;
    if (result != 0 && saved != EINTR) RaiseCommError(ECommError::kClose, saved);
  }

  void Write(const std::uint8_t* data, std::uint32_t count) override {
    std::uint32_t done = 0;
    while (done < count) {
      const ssize_t written = ::write(fd_, data + done, count - done);
      if (written > 0) {
        done += static_cast<std::uint32_t>(written);
        continue;
      }
      if (written < 0 && errno == EINTR) continue;
      if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd waiter{fd_, POLLOUT, 0};
        ::poll(&waiter, 1, 100);
        continue;
      }
      if (written == 0) errno = EIO;
      Raise(ECommError::kWrite);
    }
  }

  std::uint8_t ReadByte() override {
    std::uint8_t byte = 0;
    for (;;) {
      const ssize_t got = ::read(fd_, &byte, 1);
      if (got == 1) return byte;
      if (got < 0 && errno == EINTR) continue;
      if (got == 0) errno = EIO;  // the line went away under us
      Raise(ECommError::kRead);
    }
  }

  std::uint32_t InQueue() override {
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) != 0) Raise(ECommError::kInQueue);
    return waiting > 0 ? static_cast<std::uint32_t>(waiting) : 0;
  }

  void Purge() override {
    if (::tcflush(fd_, TCIFLUSH) != 0) Raise(ECommError::kPurge);
    if (::tcflush(fd_, TCOFLUSH) != 0) Raise(ECommError::kPurge);
  }

  bool WaitForInput(int timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      // Rounded up: a poll that wakes a fraction of a millisecond early would shorten every wait.
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd waiter{fd_, POLLIN, 0};
      const int ready = ::poll(&waiter, 1, left > 0 ? static_cast<int>(left) : 0);
      if (ready < 0 && errno == EINTR) continue;
      if (ready > 0 && (waiter.revents & POLLIN)) return true;
      if (ready > 0) {
        // Hang-up or error on the line: nothing will arrive, but the caller's polling cadence
        // (and so its time-out) must hold, so the rest of the interval is still waited out.
        std::this_thread::sleep_until(deadline);
      }
      return false;
    }
  }

  int TtyDescriptor() const override { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<Transport> OpenTermiosTransport(const std::string& path, const LineSettings& line) {
  if (path.empty()) RaiseCommError(ECommError::kOpen, ENOENT);

  // Opened non-blocking so that a port waiting for carrier does not hang the open, then switched
  // to blocking: reads happen only after InQueue reported a byte, and writes should block until
  // the driver has taken everything.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  // Another program's exclusive mark refuses everyone but root.
  if (fd < 0 && errno == EBUSY) RaisePortInUse(path);
  if (fd < 0) Raise(ECommError::kOpen);
  auto fail = [fd](std::uint8_t code) {
    const int saved = errno;
    // A pseudo-terminal keeps its exclusive mark while its master is open, so a failed open must
    // take the mark off again or nobody but root could open the port afterwards.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    RaiseCommError(code, saved);
  };
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) fail(ECommError::kOpen);

  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) fail(ECommError::kGetState);
  // No sharing: the advisory lock keeps out every program that asks for it, root included (the
  // exclusive mark does not stop root), and the mark keeps out those that do not ask. Both go
  // with the descriptor. The port's settings are left alone until both are held, so a second
  // program never disturbs the first.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int saved = errno;
    ::close(fd);
    if (saved == EWOULDBLOCK) RaisePortInUse(path);
    RaiseCommError(ECommError::kOpen, saved);
  }
  if (::ioctl(fd, TIOCEXCL) != 0) fail(ECommError::kOpen);
  if (!ApplySettings(fd, line)) fail(ECommError::kSetState);

  // RTS raised and DTR lowered, the line state the board's interface is used with. A
  // pseudo-terminal has no modem lines; that is not a failure.
  int rts = TIOCM_RTS;
  int dtr = TIOCM_DTR;
  if (::ioctl(fd, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL) {
    fail(ECommError::kSetState);
  }
  if (::ioctl(fd, TIOCMBIC, &dtr) != 0 && errno != ENOTTY && errno != EINVAL) {
    fail(ECommError::kSetState);
  }

  // Queue sizes (32768 bytes in, 9216 out) cannot be chosen through termios. The kernel's tty
  // buffers are far larger than what the line brings between two polls, so nothing is lost, and
  // kSetQueues never occurs.
  return std::make_unique<TermiosTransport>(fd);
}

}  // namespace tuva
