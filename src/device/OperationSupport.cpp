#include "device/OperationSupport.h"

#include <algorithm>
#include <string_view>

#include "link/NetworkPort.h"

namespace tuva {

void ClosePort(Session& session) noexcept {
  try {
    session.port.Close();
  } catch (const ECommError&) {
    // The port stays marked open; the next board search closes it again before it probes.
  }
}

Outcome Reported(Session& session, const std::function<Outcome()>& steps) {
  const long before = session.protocol.progress.moved();
  Outcome outcome;
  try {
    outcome = steps();
  } catch (const ECommError& error) {
    ReportLinkLost(session, error);
    outcome.kind = OutcomeKind::LinkLost;
  }
  outcome.bytesMoved = session.protocol.progress.moved() - before;
  return outcome;
}

Outcome ReportBoardNotFound(Session& session) {
  Frontend& frontend = session.frontend;
  frontend.SetStatus(Status::Error);
  // The ports chosen that could not even be opened are the cause, and are told first, each with
  // the reason.
  std::string network;
  std::string serial;
  for (const std::string& line : session.port.Unreachable())
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
  for (const std::string& device : session.busyPorts) frontend.ShowMessage(PortInUseText(device));
  if (!session.deniedPorts.empty()) {
    std::string names;
    for (const std::string& device : session.deniedPorts) {
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
  ClosePort(session);
  session.protocol.progress.Restart();
  frontend.SetStatus(Status::Ready);
  return {OutcomeKind::BoardNotFound};
}

Outcome OpenTransfer(Session& session) {
  session.frontend.SetWriteEnabled(false);
  session.protocol.linkError = false;
  session.frontend.SetStatus(Status::Verify);
  session.protocol.progress.Begin(Phase::Probe, 27);
  if (session.FindBoard()) return {};
  const Outcome outcome = ReportBoardNotFound(session);
  session.frontend.SetWriteEnabled(true);
  return outcome;
}

void ReportLinkLost(Session& session, const ECommError& error) {
  const std::string port = session.port.PortName();
  ClosePort(session);
  session.waiting = false;
  Frontend& frontend = session.frontend;
  frontend.ShowMessageBox(kAppTitle,
                          "The connection to the board on " + port + " failed (" +
                              error.Describe() +
                              ").\nThe operation was stopped. Check the cable and the "
                              "serial adapter, then try again.",
                          MessageIcon::Error);
  frontend.SetStatus(Status::Ready);
  session.protocol.progress.Restart();
  frontend.SetWriteEnabled(true);
}

Outcome Abandon(Session& session, OutcomeKind why) {
  session.frontend.SetWriteEnabled(true);
  session.protocol.progress.Restart();
  session.frontend.SetStatus(Status::Ready);
  ClosePort(session);
  return {why};
}

Outcome ReportVerifyError(Session& session, std::uint32_t address) {
  session.frontend.ShowMessage(VerifyErrorText(session));
  session.frontend.SetWriteEnabled(true);
  session.protocol.progress.Restart();
  ClosePort(session);
  Outcome outcome{OutcomeKind::BlockDiffers};
  outcome.address = address;
  return outcome;
}

Outcome Finish(Session& session, const char* success, const char* failure) {
  const bool good = !session.protocol.linkError;
  session.frontend.ShowMessage(good ? success : failure);
  session.protocol.progress.Restart();
  ClosePort(session);
  session.frontend.SetWriteEnabled(true);
  session.frontend.SetStatus(Status::Ready);
  return {good ? OutcomeKind::Done : OutcomeKind::TransmitError};
}

bool SendChecked(Session& session, std::uint32_t address, std::uint16_t length,
                 std::uint8_t command, std::uint16_t bank) {
  const bool done =
      session.protocol.SendCommand(address, length, command, ArgumentOf(command), bank);
  if (!done) session.protocol.linkError = true;
  return done && !session.protocol.linkError;
}

bool ReadRaw(Session& session, std::uint32_t address, std::uint16_t length, std::size_t capacity,
             std::uint16_t bank, std::vector<std::uint8_t>& buffer, std::size_t& count) {
  buffer.assign(capacity, 0);
  count = 0;
  Protocol& protocol = session.protocol;
  if (!protocol.SendCommand(address, length, kReadBlock, ArgumentOf(kReadBlock), bank) ||
      !protocol.ReceiveReply(buffer, count)) {
    protocol.linkError = true;
    return false;
  }
  return true;
}

bool ReadReply(Session& session, std::uint32_t address, std::uint16_t length, std::size_t capacity,
               std::uint16_t bank, std::vector<std::uint8_t>& buffer, std::size_t* unstuffed) {
  std::size_t count = 0;
  if (!ReadRaw(session, address, length, capacity, bank, buffer, count)) return false;
  const std::size_t plain = Unescape(buffer.data(), count);
  if (unstuffed) *unstuffed = plain;
  return true;
}

bool ReplyHolds(const std::vector<std::uint8_t>& reply, std::size_t count,
                std::span<const std::uint8_t> expected) {
  if (count > reply.size() || count < kReplyHeaderSize + expected.size()) return false;
  return std::equal(expected.begin(), expected.end(), reply.begin() + kReplyHeaderSize);
}

std::string VerifyErrorText(const Session& session) {
  return std::string("Verify Error! ") +
         "Htag = " + std::to_string(static_cast<unsigned>(session.protocol.sequence()));
}

std::string ModelOfLine(const std::string& line) {
  return line.size() > 8 ? line.substr(8, 6) : std::string();
}

}  // namespace tuva
