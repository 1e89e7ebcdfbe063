#include "link/CommPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "link/Transport.h"

namespace tuva {
namespace {

// What each operation code means, for messages.
const char* OperationText(std::uint8_t code) {
  static constexpr std::pair<std::uint8_t, const char*> kTexts[] = {
      {ECommError::kSetBaudRate, "the baud rate cannot be set"},
      {ECommError::kPortIsOpen, "the port name cannot change while the port is open"},
      {ECommError::kPortNotOpen, "the port is not open"},
      {ECommError::kOpen, "the port cannot be opened"},
      {ECommError::kWrite, "writing to the port failed"},
      {ECommError::kRead, "reading from the port failed"},
      {ECommError::kClose, "closing the port failed"},
      {ECommError::kPurge, "discarding the port's queues failed"},
      {ECommError::kGetState, "the port's settings cannot be read"},
      {ECommError::kSetState, "the line settings cannot be applied"},
      {ECommError::kSetQueues, "the queue sizes cannot be set"},
      {ECommError::kInQueue, "the port's input queue cannot be queried"},
  };
  for (const auto& [known, text] : kTexts) {
    if (known == code) return text;
  }
  return "serial port failure";
}

// Why a serial device could not be opened, in the words tuvactl uses for a missing one.
std::string DeviceOpenReason(const ECommError& error) {
  switch (error.SystemError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "no such device";
    case EBUSY:
      return "in use by another program";
    case ENOTTY:
      return "not a serial port";
    default:
      return error.Detail.empty() ? std::strerror(static_cast<int>(error.SystemError))
                                  : error.Detail;
  }
}

std::string Description(std::uint8_t code, std::uint32_t systemError, const std::string& detail) {
  std::string text = "error " + std::to_string(code) + ": " + OperationText(code);
  if (code != ECommError::kPortIsOpen && code != ECommError::kPortNotOpen) {
    text += " (";
    text += detail.empty() ? std::string(std::strerror(static_cast<int>(systemError))) : detail;
    text += ")";
  }
  return text;
}

[[noreturn]] void Raise(std::uint8_t code, int systemError = 0) {
  RaiseCommError(code, systemError);
}

}  // namespace

void RaiseCommError(std::uint8_t code, int systemError, std::string detail) {
  throw ECommError(code, static_cast<std::uint32_t>(systemError), std::move(detail));
}

ECommError::ECommError(std::uint8_t code, std::uint32_t systemError, std::string detail)
    : std::runtime_error("Serial port " + Description(code, systemError, detail)),
      Code(code),
      SystemError(systemError),
      Detail(std::move(detail)) {}

std::string PortInUseText(const std::string& port) {
  return port + " is in use by another program";
}

std::string ECommError::Describe() const {
  return Description(Code, SystemError, Detail);
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
  transport_ = std::move(other.transport_);
  ttyFd_ = std::exchange(other.ttyFd_, -1);
  name_ = other.name_;
  line_ = other.line_;
}

void TCommPort::KeepUnreachable(const TCommPort& other) {
  if (&other == this) return;
  unreachable_.insert(unreachable_.end(), other.unreachable_.begin(), other.unreachable_.end());
}

void TCommPort::Open() {
  if (open_) return;
  if (!IsNetworkPortName(name_)) {
    try {
      transport_ = OpenTermiosTransport(name_, line_);
    } catch (const ECommError& error) {
      // A port tried again and again (a jig waiting for its adapter) is noted once.
      const std::string note = name_ + ": " + DeviceOpenReason(error);
      if (error.SystemError != EACCES && error.SystemError != EPERM &&
          std::find(unreachable_.begin(), unreachable_.end(), note) == unreachable_.end())
        unreachable_.push_back(note);
      throw;
    }
  } else {
    try {
      std::string problem;
      const auto address = ParseNetworkPort(name_, problem);
      if (!address) RaiseCommError(ECommError::kOpen, EINVAL, name_ + ": " + problem);
      transport_ = address->scheme == NetworkPort::Scheme::Rfc2217
                       ? OpenRfc2217Transport(*address, line_)
                       : OpenTcpTransport(*address);
    } catch (const ECommError& error) {
      std::string reason =
          error.Detail.empty() ? std::strerror(static_cast<int>(error.SystemError)) : error.Detail;
      if (reason.rfind(name_, 0) != 0) reason = name_ + ": " + reason;
      unreachable_.push_back(reason);
      throw;
    }
  }
  ttyFd_ = transport_->TtyDescriptor();
  open_ = true;
}

void TCommPort::Close() {
  if (!open_) return;
  // Closed whatever Close reports: the transport has let go of its descriptor either way.
  open_ = false;
  ttyFd_ = -1;
  std::unique_ptr<Transport> closing = std::move(transport_);
  closing->Close();
}

void TCommPort::SetBaudRate(std::uint32_t rate) {
  const std::uint32_t old = std::exchange(line_.baud, rate);
  if (!open_) return;
  try {
    transport_->Apply(line_, ECommError::kSetBaudRate);
  } catch (const ECommError&) {
    line_.baud = old;
    throw;
  }
}

void TCommPort::SetPortName(const std::string& name) {
  if (open_) Raise(ECommError::kPortIsOpen);
  name_ = name;
}

void TCommPort::Reconfigure(std::uint32_t rate, const std::string& name, std::uint32_t mode) {
  line_.byteSize = mode == 0 ? 7 : 8;
  line_.parity = mode == 0 ? 2 : 0;
  line_.stopBits = mode == 1 ? 0 : 2;
  Close();
  SetBaudRate(rate);
  SetPortName(name);
  Open();
}

void TCommPort::Write(const std::uint8_t* data, std::uint32_t count) {
  if (!open_) Raise(ECommError::kPortNotOpen);
  if (count == 0 || data == nullptr) return;
  transport_->Write(data, count);
}

std::uint8_t TCommPort::ReadByte() {
  if (!open_) Raise(ECommError::kPortNotOpen);
  return transport_->ReadByte();
}

std::uint32_t TCommPort::InQueue() {
  if (!open_) Raise(ECommError::kPortNotOpen);
  return transport_->InQueue();
}

void TCommPort::Purge() {
  if (!open_) Raise(ECommError::kPortNotOpen);
  transport_->Purge();
}

bool TCommPort::WaitForInput(int timeoutMs) {
  if (!open_) return false;
  return transport_->WaitForInput(timeoutMs);
}

}  // namespace tuva
