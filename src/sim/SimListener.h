// The simulated board on the network: a TCP port whose connections are bridged, one at a time, to
// the board's pseudo-terminal as a raw socket (what a serial server without RFC 2217 does).
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace tuva::sim {

class SimListener {
 public:
  // `port` 0 picks a free port. Listens on every address.
  SimListener(std::string terminalPath, std::uint16_t port);
  ~SimListener();  // Stop
  SimListener(const SimListener&) = delete;
  SimListener& operator=(const SimListener&) = delete;

  // Throws std::runtime_error when the port cannot be bound.
  void Start();
  void Stop();
  std::uint16_t Port() const { return port_; }

 private:
  void Serve();
  // Copies bytes both ways until the client or the terminal goes away, or Stop.
  void Bridge(int client);

  std::string terminalPath_;
  std::uint16_t port_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};  // Stop writes to [1]; the serving thread polls [0]
  std::thread thread_;
};

}  // namespace tuva::sim
