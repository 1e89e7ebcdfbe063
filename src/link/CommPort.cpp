#include "link/CommPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

namespace tuva {
namespace {

// What each operation code means, for messages.
const char* OperationText(std::uint8_t code) {
  switch (code) {
    case ECommError::kSetBaudRate:
      return "the baud rate cannot be set";
    case ECommError::kPortIsOpen:
      return "the port name cannot change while the port is open";
    case ECommError::kPortNotOpen:
      return "the port is not open";
    case ECommError::kOpen:
      return "the port cannot be opened";
    case ECommError::kWrite:
      return "writing to the port failed";
    case ECommError::kRead:
      return "reading from the port failed";
    case ECommError::kClose:
      return "closing the port failed";
    case ECommError::kPurge:
      return "discarding the port's queues failed";
    case ECommError::kGetState:
      return "the port's settings cannot be read";
    case ECommError::kSetState:
      return "the line settings cannot be applied";
    case ECommError::kSetQueues:
      return "the queue sizes cannot be set";
    case ECommError::kInQueue:
      return "the port's input queue cannot be queried";
    default:
      return "serial port failure";
  }
}

[[noreturn]] void Raise(std::uint8_t code) {
  ECommError error;
  error.Code = code;
  error.SystemError = static_cast<std::uint32_t>(errno);
  throw error;
}

// Raises with an explicit errno (for failures that did not come from a system call).
[[noreturn]] void Raise(std::uint8_t code, int systemError) {
  errno = systemError;
  Raise(code);
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

}  // namespace

std::string ECommError::Describe() const {
  std::string text = "error " + std::to_string(Code) + ": " + OperationText(Code);
  if (Code != kPortIsOpen && Code != kPortNotOpen) {
    text += " (";
    text += std::strerror(static_cast<int>(SystemError));
    text += ")";
  }
  return text;
}

TCommPort::TCommPort() : name_("/dev/ttyS0") {}

TCommPort::~TCommPort() {
  try {
    Close();
  } catch (const ECommError&) {
    // The descriptor is released by the kernel even when close reports an error.
  }
}

void TCommPort::TakeOver(TCommPort& other) {
  if (&other == this) return;
  Close();
  open_ = std::exchange(other.open_, false);
  fd_ = std::exchange(other.fd_, -1);
  name_ = other.name_;
  baud_ = other.baud_;
  byteSize_ = other.byteSize_;
  parity_ = other.parity_;
  stopBits_ = other.stopBits_;
}

void TCommPort::Open() {
  if (open_) return;
  if (name_.empty()) Raise(ECommError::kOpen, ENOENT);

  // Opened non-blocking so that a port waiting for carrier does not hang the open, then switched
  // to blocking: reads happen only after InQueue reported a byte, and writes should block until
  // the driver has taken everything.
  const int fd = ::open(name_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Raise(ECommError::kOpen);
  auto fail = [fd](std::uint8_t code) {
    const int saved = errno;
    // A pseudo-terminal keeps its exclusive mark while its master is open, so a failed open must
    // take the mark off again or nobody but root could open the port afterwards.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    Raise(code, saved);
  };
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) fail(ECommError::kOpen);

  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) fail(ECommError::kGetState);
  // No sharing: nobody else may open the port while we hold it.
  if (::ioctl(fd, TIOCEXCL) != 0) fail(ECommError::kOpen);
  if (!ApplySettings(fd)) fail(ECommError::kSetState);

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
  fd_ = fd;
  open_ = true;
}

bool TCommPort::ApplySettings(int fd) const {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return false;
  speed_t speed{};
  if (!SpeedFor(baud_, speed)) {
    errno = EINVAL;
    return false;
  }
  ::cfmakeraw(&settings);
  settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cflag |= byteSize_ == 7 ? CS7 : CS8;
  if (parity_ == 1) settings.c_cflag |= PARENB | PARODD;
  if (parity_ == 2) settings.c_cflag |= PARENB;
  if (stopBits_ == 2) settings.c_cflag |= CSTOPB;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return false;
  return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

void TCommPort::Close() {
  if (!open_) return;
  ::ioctl(fd_, TIOCNXCL);  // the next opener must not find the port still reserved
  const int result = ::close(fd_);
  const int saved = errno;
  // Linux releases the descriptor even when close reports an error, so the port is closed either
  // way; keeping the stale number would let a later call hit whatever file reuses it.
  fd_ = -1;
  open_ = false;
  if (result != 0 && saved != EINTR) Raise(ECommError::kClose, saved);
}

void TCommPort::SetBaudRate(std::uint32_t rate) {
  const std::uint32_t old = baud_;
  baud_ = rate;
  if (open_ && !ApplySettings(fd_)) {
    const int saved = errno;
    baud_ = old;
    Raise(ECommError::kSetBaudRate, saved);
  }
}

void TCommPort::SetPortName(const std::string& name) {
  if (open_) Raise(ECommError::kPortIsOpen);
  name_ = name;
}

void TCommPort::Reconfigure(std::uint32_t rate, const std::string& name, std::uint32_t mode) {
  switch (mode) {
    case 0:
      byteSize_ = 7;
      parity_ = 2;
      stopBits_ = 2;
      break;
    case 1:
      byteSize_ = 8;
      parity_ = 0;
      stopBits_ = 0;
      break;
    default:
      byteSize_ = 8;
      parity_ = 0;
      stopBits_ = 2;
      break;
  }
  Close();
  SetBaudRate(rate);
  SetPortName(name);
  Open();
}

void TCommPort::Write(const std::uint8_t* data, std::uint32_t count) {
  if (!open_) Raise(ECommError::kPortNotOpen);
  if (count == 0 || data == nullptr) return;
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

std::uint8_t TCommPort::ReadByte() {
  if (!open_) Raise(ECommError::kPortNotOpen);
  std::uint8_t byte = 0;
  for (;;) {
    const ssize_t got = ::read(fd_, &byte, 1);
    if (got == 1) return byte;
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) errno = EIO;  // the line went away under us
    Raise(ECommError::kRead);
  }
}

std::uint32_t TCommPort::InQueue() {
  if (!open_) Raise(ECommError::kPortNotOpen);
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0) Raise(ECommError::kInQueue);
  return waiting > 0 ? static_cast<std::uint32_t>(waiting) : 0;
}

void TCommPort::Purge() {
  if (!open_) Raise(ECommError::kPortNotOpen);
  if (::tcflush(fd_, TCIFLUSH) != 0) Raise(ECommError::kPurge);
  if (::tcflush(fd_, TCOFLUSH) != 0) Raise(ECommError::kPurge);
}

bool TCommPort::WaitForInput(int timeoutMs) {
  if (!open_) return false;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // Rounded up: a poll that wakes a fraction of a millisecond early would shorten every wait.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
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

}  // namespace tuva
