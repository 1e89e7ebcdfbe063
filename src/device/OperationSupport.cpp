#include "device/OperationSupport.h"

#include <algorithm>

#include "link/NetworkPort.h"

namespace tuva {

void ClosePort(BoardLink& link) noexcept {
  try {
    link.port.Close();
  } catch (const ECommError&) {
    // The port stays marked open; the next board search closes it again before it probes.
  }
}

Outcome Reported(BoardLink& link, const std::function<Outcome()>& steps) {
  const long before = link.protocol.progress.moved();
  Outcome outcome;
  try {
    outcome = steps();
  } catch (const ECommError& error) {
    ReportLinkLost(link, error);
    outcome.kind = OutcomeKind::LinkLost;
  }
  outcome.bytesMoved = link.protocol.progress.moved() - before;
  return outcome;
}

Outcome ReportBoardNotFound(BoardLink& link) {
  Frontend& frontend = link.frontend;
  frontend.SetStatus(Status::Error);
  // The ports chosen that could not even be opened are the cause, and are told first, each with
  // the reason.
  std::string network;
  std::string serial;
  for (const std::string& line : link.port.Unreachable())
    (IsNetworkPortName(line) ? network : serial) += "\n  " + line;
  std::string why;
  if (!network.empty()) {
    why = "The network port could not be opened:" + network +
          "\nCheck the address, that the server is running and that this computer may connect to "
          "it.";
  }
  if (!serial.empty()) {
    if (!why.empty()) why += "\n\n";
    why += "The serial port could not be opened:" + serial +
           "\nCheck that the adapter is plugged in and that no other program holds the port.";
  }
  if (!why.empty()) frontend.ShowMessageBox(kAppTitle, why, MessageIcon::Exclamation);
  frontend.ShowMessage("The target board is not found !");
  for (const std::string& device : link.busyPorts) frontend.ShowMessage(PortInUseText(device));
  if (!link.deniedPorts.empty()) {
    std::string names;
    for (const std::string& device : link.deniedPorts) {
      if (!names.empty()) names += ", ";
      names += device;
    }
    frontend.ShowMessageBox(
        kAppTitle,
        "Permission denied on " + names +
            ": this user may not open the serial port, so the board there could not be "
            "tried.\nAdd the user to the dialout group with\n  sudo usermod -aG dialout $USER\n"
            "then log out and in again.",
        MessageIcon::Exclamation);
  }
  ClosePort(link);
  link.protocol.progress.Restart();
  frontend.SetStatus(Status::Ready);
  return {OutcomeKind::BoardNotFound};
}

Outcome OpenTransfer(BoardLink& link) {
  link.frontend.SetWriteEnabled(false);
  link.frontend.SetStatus(Status::Verify);
  link.protocol.progress.Begin(Phase::Probe, 27);
  if (link.FindBoard()) return {};
  const Outcome outcome = ReportBoardNotFound(link);
  link.frontend.SetWriteEnabled(true);
  return outcome;
}

void ReportLinkLost(BoardLink& link, const ECommError& error) {
  const std::string port = link.port.PortName();
  ClosePort(link);
  Frontend& frontend = link.frontend;
  frontend.ShowMessageBox(kAppTitle,
                          "The connection to the board on " + port + " failed (" +
                              error.Describe() +
                              ").\nThe operation was stopped. Check the cable and the "
                              "serial adapter, then try again.",
                          MessageIcon::Error);
  frontend.SetStatus(Status::Ready);
  link.protocol.progress.Restart();
  frontend.SetWriteEnabled(true);
}

Outcome Abandon(BoardLink& link, OutcomeKind why) {
  link.frontend.SetWriteEnabled(true);
  link.protocol.progress.Restart();
  link.frontend.SetStatus(Status::Ready);
  ClosePort(link);
  return {why};
}

Outcome ReportVerifyError(BoardLink& link, std::uint32_t address) {
  // The Htag is the sequence number of the frame that read the block back.
  link.frontend.ShowMessage("Verify Error! Htag = " +
                            std::to_string(static_cast<unsigned>(link.protocol.sequence())));
  link.frontend.SetWriteEnabled(true);
  link.protocol.progress.Restart();
  ClosePort(link);
  Outcome outcome{OutcomeKind::BlockDiffers};
  outcome.address = address;
  return outcome;
}

Outcome Finish(BoardLink& link, const char* success, const char* failure) {
  const bool good = !link.protocol.linkError;
  link.frontend.ShowMessage(good ? success : failure);
  link.protocol.progress.Restart();
  ClosePort(link);
  link.frontend.SetWriteEnabled(true);
  link.frontend.SetStatus(Status::Ready);
  return {good ? OutcomeKind::Done : OutcomeKind::TransmitError};
}

bool SendChecked(BoardLink& link, std::uint32_t address, std::uint16_t length, std::uint8_t command,
                 std::uint16_t bank) {
  const bool done = link.protocol.SendCommand(address, length, command, ArgumentOf(command), bank);
  if (!done) link.protocol.linkError = true;
  return done && !link.protocol.linkError;
}

bool ReadRaw(BoardLink& link, std::uint32_t address, std::uint16_t length, std::size_t capacity,
             std::uint16_t bank, std::vector<std::uint8_t>& buffer, std::size_t& count) {
  buffer.assign(capacity, 0);
  count = 0;
  Protocol& protocol = link.protocol;
  if (!protocol.SendCommand(address, length, kReadBlock, ArgumentOf(kReadBlock), bank) ||
      !protocol.ReceiveReply(buffer, count)) {
    protocol.linkError = true;
    return false;
  }
  return true;
}

bool ReadReply(BoardLink& link, std::uint32_t address, std::uint16_t length, std::size_t capacity,
               std::uint16_t bank, std::vector<std::uint8_t>& buffer, std::size_t* unstuffed) {
  std::size_t count = 0;
  if (!ReadRaw(link, address, length, capacity, bank, buffer, count)) return false;
  const std::size_t plain = Unescape(buffer.data(), count);
  if (unstuffed) *unstuffed = plain;
  return true;
}

bool ReplyHolds(const std::vector<std::uint8_t>& reply, std::size_t count,
                std::span<const std::uint8_t> expected) {
  if (count > reply.size() || count < kReplyHeaderSize + expected.size()) return false;
  return std::equal(expected.begin(), expected.end(), reply.begin() + kReplyHeaderSize);
}

std::string ModelOfLine(const std::string& line) {
  return line.size() > 8 ? line.substr(8, 6) : std::string();
}

}  // namespace tuva
