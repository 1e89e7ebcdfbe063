// A simulated board on a pseudo-terminal: the programmer opens the slave side like any serial
// port, and a background thread answers on the master side.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimBoard.h"

namespace tuva::sim {

class SimServer {
 public:
  explicit SimServer(SimOptions options = {});
  ~SimServer();  // Stop
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Powers the board up on a new pseudo-terminal and starts serving. Throws std::runtime_error
  // when the terminal cannot be made or the board's contents cannot be loaded.
  void Start();
  // Stops serving, writes the flash file (when there is one) and closes the terminal.
  void Stop();

  // The device path the programmer opens, e.g. /dev/pts/3.
  const std::string& SlavePath() const { return slavePath_; }
  bool running() const { return thread_.joinable(); }

  // Looks at the board while it runs (all are safe from any thread).
  std::vector<std::uint8_t> ReadFlash(std::uint32_t address, std::size_t length) const;
  std::vector<SimFrameRecord> Frames() const;    // every frame, both directions
  std::vector<SimFrameRecord> Requests() const;  // only the frames the board received
  bool PoweredOff() const;
  void SaveFlash(const std::string& path) const;
  // Runs `change` on the board with the server paused, e.g. to damage the flash on purpose.
  // `change` must not call the server's other members.
  void WithBoard(const std::function<void(SimBoard&)>& change);

  // Boards that come and go: the flash of every board plugged in so far, in order, and whether
  // the line is empty now (a board pulled out and the next not yet in, or the last one gone).
  std::vector<SimFlash> BoardFlashes() const;
  bool BoardAbsent() const;

 private:
  void Serve();
  // Pulls out a board whose Write is complete once the line has been quiet, and plugs in the
  // next when its time has come. Called with the mutex held.
  void ChangeBoards(std::chrono::steady_clock::time_point now);
  SimBoard& Board() const;  // the latest board; throws before Start
  void Send(const std::vector<std::uint8_t>& bytes);

  SimOptions options_;
  std::vector<std::unique_ptr<SimBoard>> boards_;  // every board plugged in, the latest last
  bool absent_ = false;
  std::chrono::steady_clock::time_point lastActive_{};  // the last byte either way
  std::chrono::steady_clock::time_point pulledAt_{};
  mutable std::mutex mutex_;  // guards boards_, absent_ and the times
  int master_ = -1;
  int slave_ = -1;  // held open so the line stays up between the programmer's openings
  std::string slavePath_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tuva::sim
