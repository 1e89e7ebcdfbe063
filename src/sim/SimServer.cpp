#include "sim/SimServer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace tuva::sim {
namespace {

using Clock = std::chrono::steady_clock;
// One start bit, eight data bits, one stop bit at 19200 baud.
constexpr auto kByteTime = std::chrono::duration<double>(10.0 / 19200.0);

// How long the line stays quiet after a complete Write before the technician pulls the board:
// longer than the programmer waits for an unanswered probe (about 300 ms), so a Verify whose
// probe a flickering contact missed is still on the board when it tries again.
constexpr auto kLetGo = std::chrono::milliseconds(400);

std::runtime_error SystemFailure(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void MakeRaw(int fd) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return;
  ::cfmakeraw(&settings);
  ::tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace

SimServer::SimServer(SimOptions options) : options_(std::move(options)) {}

SimServer::~SimServer() {
  try {
    Stop();
  } catch (const std::exception&) {
    // The flash file could not be written; nothing more can be done while tearing down.
  }
}

void SimServer::Start() {
  if (running()) return;
  boards_.clear();
  SimOptions first = options_;
  if (options_.boards > 0 && !first.flashFile.empty()) first.flashFile += ".1";
  boards_.push_back(std::make_unique<SimBoard>(first));
  absent_ = false;
  lastActive_ = Clock::now();

  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) throw SystemFailure("cannot open a pseudo-terminal");
  // A failure once the master is open closes it again.
  const auto failed = [this](const std::string& what) {
    const auto failure = SystemFailure(what);
    ::close(std::exchange(master_, -1));
    return failure;
  };
  char name[128] = {};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    throw failed("cannot prepare the pseudo-terminal");
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) throw failed("cannot open " + slavePath_);
  // No echo, no line editing, no character translation, on either side.
  MakeRaw(master_);
  MakeRaw(slave_);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

  stop_ = false;
  thread_ = std::thread(&SimServer::Serve, this);
}

void SimServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  ::close(slave_);
  ::close(master_);
  slave_ = master_ = -1;
  std::lock_guard lock(mutex_);
  boards_.back()->SaveFlash();
}

void SimServer::ChangeBoards(Clock::time_point now) {
  if (options_.boards <= 0) return;
  if (!absent_) {
    if (boards_.back()->writeCompleted() && now - lastActive_ >= kLetGo) {
      absent_ = true;
      pulledAt_ = now;
    }
    return;
  }
  if (static_cast<int>(boards_.size()) >= options_.boards ||
      now - pulledAt_ < std::chrono::milliseconds(options_.removedMs)) {
    return;
  }
  SimOptions next = options_;
  if (!next.flashFile.empty()) {
    next.flashFile += '.';
    next.flashFile += std::to_string(boards_.size() + 1);
  }
  boards_.push_back(std::make_unique<SimBoard>(next));
  absent_ = false;
}

void SimServer::Serve() {
  std::vector<std::uint8_t> chunk(4096);
  std::vector<std::uint8_t> reply;
  auto lineFree = Clock::now();  // when the last received byte has finished arriving
  while (!stop_) {
    pollfd waiter{master_, POLLIN, 0};
    const int ready = ::poll(&waiter, 1, 20);
    {
      std::lock_guard lock(mutex_);
      ChangeBoards(Clock::now());
    }
    if (ready <= 0) continue;
    if (!(waiter.revents & POLLIN)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const ssize_t got = ::read(master_, chunk.data(), chunk.size());
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    lineFree = std::max(lineFree, Clock::now());
    bool absent = false;
    {
      std::lock_guard lock(mutex_);
      lastActive_ = Clock::now();
      absent = absent_;
    }
    if (absent) continue;  // nobody there to hear it
    for (ssize_t i = 0; i < got && !stop_; ++i) {
      if (options_.paced) lineFree += std::chrono::duration_cast<Clock::duration>(kByteTime);
      reply.clear();
      {
        std::lock_guard lock(mutex_);
        boards_.back()->Receive(chunk[static_cast<std::size_t>(i)], reply);
      }
      if (reply.empty()) continue;
      if (options_.paced) std::this_thread::sleep_until(lineFree);
      Send(reply);
      std::lock_guard lock(mutex_);
      lastActive_ = Clock::now();  // a long paced reply is no quiet line
    }
  }
}

void SimServer::Send(const std::vector<std::uint8_t>& bytes) {
  // Paced output goes out in small bursts at the line's rate.
  const std::size_t burst = options_.paced ? 16 : bytes.size();
  auto next = Clock::now();
  std::size_t done = 0;
  while (done < bytes.size() && !stop_) {
    const std::size_t count = std::min(burst, bytes.size() - done);
    std::size_t sent = 0;
    while (sent < count && !stop_) {
      const ssize_t written = ::write(master_, bytes.data() + done + sent, count - sent);
      if (written > 0) {
        sent += static_cast<std::size_t>(written);
      } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd waiter{master_, POLLOUT, 0};
        ::poll(&waiter, 1, 20);
      } else {
        return;  // the terminal is gone
      }
    }
    done += count;
    if (options_.paced) {
      next += std::chrono::duration_cast<Clock::duration>(kByteTime * static_cast<double>(count));
      std::this_thread::sleep_until(next);
    }
  }
}

SimBoard& SimServer::Board() const {
  if (boards_.empty()) throw std::logic_error("the simulated board has not been started");
  return *boards_.back();
}

std::vector<std::uint8_t> SimServer::ReadFlash(std::uint32_t address, std::size_t length) const {
  std::lock_guard lock(mutex_);
  return Board().flash().Read(address, length);
}

std::vector<SimFrameRecord> SimServer::Frames() const {
  std::lock_guard lock(mutex_);
  return boards_.empty() ? std::vector<SimFrameRecord>{} : boards_.back()->records();
}

std::vector<SimFrameRecord> SimServer::Requests() const {
  std::vector<SimFrameRecord> requests;
  for (auto& record : Frames()) {
    if (record.received) requests.push_back(record);
  }
  return requests;
}

bool SimServer::PoweredOff() const {
  std::lock_guard lock(mutex_);
  return !boards_.empty() && boards_.back()->poweredOff();
}

void SimServer::SaveFlash(const std::string& path) const {
  std::lock_guard lock(mutex_);
  Board().flash().Save(path);
}

std::vector<SimFlash> SimServer::BoardFlashes() const {
  std::lock_guard lock(mutex_);
  std::vector<SimFlash> flashes;
  for (const auto& board : boards_) flashes.push_back(board->flash());
  return flashes;
}

bool SimServer::BoardAbsent() const {
  std::lock_guard lock(mutex_);
  return absent_;
}

void SimServer::WithBoard(const std::function<void(SimBoard&)>& change) {
  std::lock_guard lock(mutex_);
  change(Board());
}

}  // namespace tuva::sim
