#include "sim/SimListener.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tuva::sim {
namespace {

std::runtime_error SystemFailure(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t done = ::write(fd, data, count);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    count -= static_cast<std::size_t>(done);
  }
  return true;
}

// Moves what `from` holds to `to`; false when either end is gone.
bool Pass(int from, int to) {
  std::array<std::uint8_t, 4096> chunk{};
  const ssize_t got = ::read(from, chunk.data(), chunk.size());
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (got <= 0) return false;
  return WriteAll(to, chunk.data(), static_cast<std::size_t>(got));
}

}  // namespace

SimListener::SimListener(std::string terminalPath, std::uint16_t port)
    : terminalPath_(std::move(terminalPath)), port_(port) {}

SimListener::~SimListener() {
  Stop();
}

void SimListener::Start() {
  if (thread_.joinable()) return;
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw SystemFailure("cannot make a socket");
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port_);
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0) {
    const auto failure = SystemFailure("cannot listen on TCP port " + std::to_string(port_));
    Stop();
    throw failure;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread(&SimListener::Serve, this);
}

void SimListener::Stop() {
  if (thread_.joinable()) {
    const char stop = 1;
    if (::write(wake_[1], &stop, 1) != 1) {
      // The pipe is ours and empty; a failed write would leave the thread running, so shut the
      // listening socket down to wake its poll instead.
      ::shutdown(listener_, SHUT_RDWR);
    }
    thread_.join();
  }
  for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void SimListener::Serve() {
  for (;;) {
    pollfd waits[2] = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) return;
    if (waits[0].revents != 0) return;
    if (waits[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    if (!(waits[1].revents & POLLIN)) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Bridge(client);
    ::close(client);
  }
}

void SimListener::Bridge(int client) {
  // Opened afresh for every connection, as a programmer would: a programmer holding the line
  // exclusively on the terminal keeps the network out until it lets go.
  const int terminal = ::open(terminalPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return;
  for (;;) {
    pollfd waits[3] = {{wake_[0], POLLIN, 0}, {client, POLLIN, 0}, {terminal, POLLIN, 0}};
    if (::poll(waits, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waits[0].revents != 0) break;
    if (waits[1].revents != 0 && !Pass(client, terminal)) break;
    if (waits[2].revents != 0 && !Pass(terminal, client)) break;
  }
  ::close(terminal);
}

}  // namespace tuva::sim
