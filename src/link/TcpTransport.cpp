// A board behind a raw TCP socket (socket://HOST:PORT): the bytes go as they are, and the line
// settings are whatever the server has set on its serial port.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

#include "link/SocketTransport.h"

namespace tuva {
namespace {

constexpr std::chrono::milliseconds kConnectTimeout{5000};
// A server that takes nothing for this long while we send is gone.
constexpr std::chrono::milliseconds kSendTimeout{10000};

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// Connects one resolved address; the socket, or -1 with errno set.
int ConnectAddress(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int error = 0;
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd waiter{fd, POLLOUT, 0};
      int ready = 0;
      do {
        ready = ::poll(&waiter, 1, MillisecondsUntil(deadline));
      } while (ready < 0 && errno == EINTR);
      socklen_t size = sizeof error;
      if (ready == 0) {
        error = ETIMEDOUT;
      } else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
      }
    }
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  // Frames are short and every one waits for an answer: no coalescing delay.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  return fd;
}

class TcpTransport : public SocketTransport {
 public:
  using SocketTransport::SocketTransport;

  void Apply(const LineSettings&, std::uint8_t) override {}
  void Write(const std::uint8_t* data, std::uint32_t count) override { SendAll(data, count); }
  // What the socket holds now is dropped too; the server's own buffers cannot be reached.
  void Purge() override {
    do {
      DropInput();
    } while (Receive(Clock::now()));
  }

 protected:
  void Decode(std::span<const std::uint8_t> bytes) override {
    for (const std::uint8_t byte : bytes) StoreData(byte);
  }
};

}  // namespace

int ConnectTo(const NetworkPort& port, std::chrono::milliseconds timeout) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port.port);
  const int resolved = ::getaddrinfo(port.host.c_str(), service.c_str(), &hints, &found);
  if (resolved != 0) {
    std::string detail = "host " + port.host + " cannot be resolved: ";
    detail += resolved == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(resolved);
    RaiseCommError(ECommError::kOpen, resolved == EAI_SYSTEM ? errno : EHOSTUNREACH, detail);
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int error = ECONNREFUSED;
  for (const addrinfo* address = found; address; address = address->ai_next) {
    const int fd = ConnectAddress(*address, deadline);
    if (fd >= 0) {
      ::freeaddrinfo(found);
      return fd;
    }
    error = errno;
  }
  ::freeaddrinfo(found);
  std::string detail = "cannot connect to " + port.Address() + ": ";
  detail += std::strerror(error);
  RaiseCommError(ECommError::kOpen, error, detail);
}

SocketTransport::~SocketTransport() {
  if (fd_ >= 0) ::close(fd_);
}

void SocketTransport::Close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0) ::close(fd);  // a socket is released whatever close says
}

void SocketTransport::StoreData(std::uint8_t byte) {
  if (input_.size() < kInputLimit) input_.push_back(byte);
}

void SocketTransport::RaiseLost(std::uint8_t failCode) const {
  std::string detail = name_ + ": ";
  detail += lostError_ == ECONNRESET ? std::string("the server closed the connection")
                                     : std::string(std::strerror(lostError_));
  RaiseCommError(failCode, lostError_, detail);
}

void SocketTransport::SendAll(const std::uint8_t* data, std::size_t count) {
  if (lostError_ != 0) RaiseLost(ECommError::kWrite);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t sent = ::send(fd_, data + done, count - done, MSG_NOSIGNAL);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd waiter{fd_, POLLOUT, 0};
      const int ready = ::poll(&waiter, 1, static_cast<int>(kSendTimeout.count()));
      if (ready == 0)
        RaiseCommError(ECommError::kWrite, ETIMEDOUT, name_ + ": the server takes no data");
      continue;
    }
    lostError_ = sent == 0 ? EPIPE : errno;
    RaiseLost(ECommError::kWrite);
  }
}

bool SocketTransport::Receive(Clock::time_point deadline) {
  if (lostError_ != 0) return false;
  // With the queue full nothing more is taken from the socket: the server's sending stalls
  // instead of our memory growing.
  if (input_.size() >= kInputLimit) return false;
  std::array<std::uint8_t, 4096> chunk{};
  for (;;) {
    const ssize_t got = ::recv(fd_, chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (got > 0) {
      Decode(std::span<const std::uint8_t>(chunk.data(), static_cast<std::size_t>(got)));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd waiter{fd_, POLLIN, 0};
      const int ready = ::poll(&waiter, 1, MillisecondsUntil(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      continue;
    }
    lostError_ = got == 0 ? ECONNRESET : errno;
    return false;
  }
}

std::uint8_t SocketTransport::ReadByte() {
  const auto deadline = Clock::now() + kSendTimeout;
  while (input_.empty()) {
    if (lostError_ != 0) RaiseLost(ECommError::kRead);
    if (!Receive(deadline) && Clock::now() >= deadline) {
      RaiseCommError(ECommError::kRead, ETIMEDOUT, name_ + ": no data from the server");
    }
  }
  const std::uint8_t byte = input_.front();
  input_.pop_front();
  return byte;
}

std::uint32_t SocketTransport::InQueue() {
  // Everything the socket holds now, as a serial driver's queue holds what the line brought.
  while (Receive(Clock::now())) {
  }
  if (input_.empty() && lostError_ != 0) RaiseLost(ECommError::kInQueue);
  return static_cast<std::uint32_t>(input_.size());
}

bool SocketTransport::WaitForInput(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (input_.empty()) {
    if (lostError_ != 0) {
      // As a hung-up line: nothing will come, but the caller's polling cadence must hold.
      std::this_thread::sleep_until(deadline);
      return false;
    }
    if (!Receive(deadline) && lostError_ == 0 && Clock::now() >= deadline) {
      return false;
    }
  }
  return true;
}

std::unique_ptr<Transport> OpenTcpTransport(const NetworkPort& port) {
  return std::make_unique<TcpTransport>(ConnectTo(port, kConnectTimeout), port.Url());
}

}  // namespace tuva
