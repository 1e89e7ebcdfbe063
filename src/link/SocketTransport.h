// The part the two network transports share: a connected TCP socket with a bounded input buffer
// that the transport's decoder fills, and the waits on the socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <string>

#include "link/Transport.h"

namespace tuva {

class SocketTransport : public Transport {
 public:
  // At most this many received bytes wait for the protocol, as in a serial driver's input queue;
  // a server that floods beyond it loses the excess, as an overrun line does.
  static constexpr std::size_t kInputLimit = 32768;

  SocketTransport(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  ~SocketTransport() override;
  SocketTransport(const SocketTransport&) = delete;
  SocketTransport& operator=(const SocketTransport&) = delete;

  void Close() override;
  std::uint8_t ReadByte() override;
  std::uint32_t InQueue() override;
  bool WaitForInput(int timeoutMs) override;

 protected:
  using Clock = std::chrono::steady_clock;

  // Takes what the server sent in: the decoder stores data bytes with StoreData.
  virtual void Decode(std::span<const std::uint8_t> bytes) = 0;
  void StoreData(std::uint8_t byte);
  void DropInput() { input_.clear(); }
  std::size_t Buffered() const { return input_.size(); }

  // Sends every byte; raises kWrite when the connection fails.
  void SendAll(const std::uint8_t* data, std::size_t count);
  // Reads what the socket holds now (waiting at most until `deadline`) and decodes it. False when
  // nothing came before the deadline, the queue is full or the connection is lost (then kept in
  // lostError_ and raised by the next operation that needs the line).
  bool Receive(Clock::time_point deadline);
  // The server's address for messages.
  const std::string& name() const { return name_; }
  bool Lost() const { return lostError_ != 0; }
  [[noreturn]] void RaiseLost(std::uint8_t failCode) const;

 private:
  int fd_;
  std::string name_;
  std::deque<std::uint8_t> input_;
  int lostError_ = 0;  // errno of a connection that is gone, 0 while it stands
};

// Resolves `port` and connects within `timeout`; raises kOpen naming the host when it does not
// resolve, refuses or does not answer. Returns the connected, non-blocking socket.
int ConnectTo(const NetworkPort& port, std::chrono::milliseconds timeout);

}  // namespace tuva
