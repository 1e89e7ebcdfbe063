// A bare pseudo-terminal for tests that play the far end of the line by hand: a silent port, or
// a peer that sends exactly the bytes a test needs (a reply with an early ETX, one that never
// ends) and reads exactly what the programmer sent.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tuva::testing {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
      throw std::runtime_error("cannot make a pseudo-terminal");
    }
    path_ = name;
    // Held open so that the line stays up while the programmer closes and reopens its side.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) throw std::runtime_error("cannot open " + path_);
    for (const int fd : {master_, slave_}) {
      termios settings{};
      ::tcgetattr(fd, &settings);
      ::cfmakeraw(&settings);
      ::tcsetattr(fd, TCSANOW, &settings);
    }
  }
  ~PtyPair() {
    ::close(slave_);
    ::close(master_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The device the programmer opens.
  const std::string& path() const { return path_; }
  // The line settings the programmer put on the terminal.
  termios settings() const {
    termios current{};
    ::tcgetattr(slave_, &current);
    return current;
  }

  // Sends bytes to the programmer.
  void Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t written = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (written <= 0) throw std::runtime_error("cannot write to the pseudo-terminal");
      done += static_cast<std::size_t>(written);
    }
  }

  // Everything the programmer sent that arrives within `quietMs` of the previous byte.
  std::vector<std::uint8_t> Drain(int quietMs = 100) const {
    std::vector<std::uint8_t> bytes;
    for (;;) {
      pollfd waiter{master_, POLLIN, 0};
      if (::poll(&waiter, 1, quietMs) <= 0 || !(waiter.revents & POLLIN)) return bytes;
      std::uint8_t chunk[4096];
      const ssize_t got = ::read(master_, chunk, sizeof chunk);
      if (got <= 0) return bytes;
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace tuva::testing
