// The one serial port object: a thin, blocking port with fixed line settings over a local tty
// (a device path) or a serial server on the network (rfc2217://HOST:PORT, socket://HOST:PORT).
// Every failure becomes an ECommError carrying an operation code and errno.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tuva {

// what() is "Serial port " and the description.
struct ECommError : std::runtime_error {
  ECommError(std::uint8_t code, std::uint32_t systemError, std::string detail);

  // Which operation failed.
  enum : std::uint8_t {
    kSetBaudRate = 1,
    kPortIsOpen = 6,   // SetPortName on an open port
    kPortNotOpen = 7,  // I/O on a closed port
    kOpen = 8,
    kWrite = 9,
    kRead = 10,
    kClose = 11,
    kPurge = 12,
    kGetState = 14,
    kSetState = 15,
    kSetQueues = 16,
    kInQueue = 18,
  };
  std::uint8_t Code;
  std::uint32_t SystemError;  // errno when the error was made
  std::string Detail;         // what a network port's server did, when there is more to say

  // "error 8 (No such file or directory)" style text for messages.
  std::string Describe() const;
};

// "/dev/ttyUSB0 is in use by another program": the Detail of the open error (SystemError EBUSY)
// when another program holds the port.
std::string PortInUseText(const std::string& port);

struct LineSettings {
  std::uint32_t baud = 9600;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even
  std::uint8_t stopBits = 0;  // 0 one, 2 two
};

class Transport;

class TCommPort {
 public:
  TCommPort();
  ~TCommPort();
  TCommPort(const TCommPort&) = delete;
  TCommPort& operator=(const TCommPort&) = delete;

  void Open();                                // no-op when open; raises 8, 14, 15, 16
  void Close();                               // no-op when closed; raises 11
  void SetBaudRate(std::uint32_t rate);       // raises 1
  void SetPortName(const std::string& name);  // raises 6 when open
  // Mode 0: 7E2, mode 1: 8N1, other: 8N2. Close, SetBaudRate, SetPortName, Open.
  void Reconfigure(std::uint32_t rate, const std::string& name, std::uint32_t mode);

  void Write(const std::uint8_t* data, std::uint32_t count);  // whole block; raises 7, 9
  std::uint8_t ReadByte();                                    // raises 7, 10
  std::uint32_t InQueue();                                    // raises 7, 18
  void Purge();                                               // input then output; raises 7, 12

  // Waits at most timeoutMs for input; true when a byte may be read. Closed port: false at once.
  bool WaitForInput(int timeoutMs);

  // Takes over `other`'s open line with its name and settings, `other` left closed; this port is
  // closed first (raises 11). The board search probes on ports of its own and keeps the winner.
  void TakeOver(TCommPort& other);

  bool IsOpen() const { return open_; }
  // The open tty descriptor, -1 when closed or on a network port. Lets a signal handler give up the
  // exclusive use of the line (ioctl TIOCNXCL is safe there) when the program is killed with the
  // port open.
  int Descriptor() const { return open_ ? ttyFd_ : -1; }
  const std::string& PortName() const { return name_; }
  std::uint32_t BaudRate() const { return line_.baud; }
  std::uint8_t ByteSize() const { return line_.byteSize; }
  std::uint8_t Parity() const { return line_.parity; }
  std::uint8_t StopBits() const { return line_.stopBits; }

  // The ports whose open failed since ForgetUnreachable, each as "NAME: reason" ("/dev/ttyUSB9:
  // no such device"), for the board search's report. A device that this user may not open is not
  // among them: the search names it with the fix.
  const std::vector<std::string>& Unreachable() const { return unreachable_; }
  void ForgetUnreachable() { unreachable_.clear(); }
  // Adds `other`'s notes to these: the board search opens its candidates on ports of its own.
  void KeepUnreachable(const TCommPort& other);

 private:
  bool open_ = false;
  std::string name_;
  LineSettings line_;
  int ttyFd_ = -1;
  std::unique_ptr<Transport> transport_;
  std::vector<std::string> unreachable_;
};

}  // namespace tuva
