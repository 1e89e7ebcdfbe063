// What carries the port's bytes: a local serial device, a serial server speaking RFC 2217, or a
// raw TCP socket. TCommPort checks the open state and picks the transport from the port name;
// a transport raises ECommError with the same operation codes the device always had.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/CommPort.h"
#include "link/NetworkPort.h"

namespace tuva {

class Transport {
 public:
  virtual ~Transport() = default;

  // Puts `settings` on the open line; raises `failCode` when they are refused.
  virtual void Apply(const LineSettings& settings, std::uint8_t failCode) = 0;
  virtual void Close() = 0;  // raises kClose; the transport is closed either way
  virtual void Write(const std::uint8_t* data, std::uint32_t count) = 0;  // raises kWrite
  virtual std::uint8_t ReadByte() = 0;                                    // raises kRead
  virtual std::uint32_t InQueue() = 0;                                    // raises kInQueue
  virtual void Purge() = 0;                                               // raises kPurge
  virtual bool WaitForInput(int timeoutMs) = 0;
  // The tty descriptor a signal handler may release the exclusive use of; -1 when none.
  virtual int TtyDescriptor() const { return -1; }
};

// Each opens at once and raises kOpen (or kGetState, kSetState) when it cannot.
std::unique_ptr<Transport> OpenTermiosTransport(const std::string& path,
                                                const LineSettings& settings);
std::unique_ptr<Transport> OpenRfc2217Transport(const NetworkPort& port,
                                                const LineSettings& settings);
std::unique_ptr<Transport> OpenTcpTransport(const NetworkPort& port);

// Raises an ECommError with `code`, errno and an optional detail for the message.
[[noreturn]] void RaiseCommError(std::uint8_t code, int systemError, std::string detail = {});

}  // namespace tuva
