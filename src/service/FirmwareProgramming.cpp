#include "service/FirmwareProgramming.h"

#include <algorithm>
#include <climits>
#include <span>
#include <vector>

#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "service/SRecordLoader.h"

namespace tuva {
namespace {

std::uint32_t BlockAddress(std::size_t block) {
  return kFirmwareBase + static_cast<std::uint32_t>(block * kFirmwareBlockSize);
}

long ProgressMaximum(const FirmwareBuffer& firmware) {
  return static_cast<long>(std::min<std::size_t>(firmware.loadedBytes, INT_MAX));
}

// Ends the operation after a failure the protocol or this operation has already reported.
Outcome Stop(Session& session, OutcomeKind why) {
  session.frontend.SetWriteEnabled(true);
  ClosePort(session);
  return {why};
}

// Checks both identification texts: anything but Done stops the programming (reported, port
// closed). Both texts are asked before either is judged.
Outcome MayProgram(Session& session) {
  Frontend& frontend = session.frontend;
  Outcome outcome;
  outcome.firmwareLine = IdentifyFirmware(session);
  const std::string configurationLine = IdentifyConfiguration(session, 0);
  if (outcome.firmwareLine.empty() || configurationLine.empty()) {
    frontend.ShowMessage("Read Model String Error ! ");
    outcome.kind = OutcomeKind::ModelUnreadable;
  } else if (ModelOfLine(outcome.firmwareLine) == "POCSAG") {
    frontend.ShowMessage(kNotFlex);
    outcome.kind = OutcomeKind::NotFlex;
  } else if (ModelOfLine(configurationLine) != "FLEX  " &&
             !frontend.AskYesNo(kOverwriteCaption, kOverwriteQuestion)) {
    outcome.kind = OutcomeKind::Declined;
  }
  if (!outcome.Done()) Abandon(session, outcome.kind);
  return outcome;
}

// One erase of the whole window, then the non-blank blocks in ascending order. A failure here
// leaves the board without complete firmware, so it is always reported.
Outcome EraseAndProgram(Session& session) {
  Frontend& frontend = session.frontend;
  frontend.SetStatus(Status::Erase);
  session.protocol.progress.Begin(Phase::FirmwareErase, 27);
  if (!SendChecked(session, kFirmwareBase, 0, kEraseBlock, 0)) {
    frontend.ShowMessage("Transmit Error!");
    return Stop(session, OutcomeKind::TransmitError);
  }
  frontend.SetStatus(Status::Write);
  session.protocol.progress.Begin(Phase::FirmwareWrite, ProgressMaximum(session.firmware));
  for (std::size_t block = 0; block < kFirmwareBlocks; ++block) {
    if (session.firmware.IsBlank(block)) continue;
    if (!SendChecked(session, BlockAddress(block), kFirmwareBlockSize, kWriteBlock, 0)) {
      frontend.ShowMessage("Transmit Error!");
      return Stop(session, OutcomeKind::TransmitError);
    }
  }
  return {};
}

// Reads back every non-blank block and compares it; stops at the first difference.
Outcome ReadBackAndCompare(Session& session) {
  Frontend& frontend = session.frontend;
  frontend.SetStatus(Status::Read);
  session.protocol.progress.Begin(Phase::FirmwareRead, ProgressMaximum(session.firmware));
  session.port.Purge();
  std::vector<std::uint8_t> reply;
  std::size_t replyLength = 0;
  for (std::size_t block = 0; block < kFirmwareBlocks; ++block) {
    if (session.firmware.IsBlank(block)) continue;
    if (!ReadReply(session, BlockAddress(block), kFirmwareBlockSize, kLargeReplyBuffer, 0, reply,
                   &replyLength)) {
      return Stop(session, OutcomeKind::TransmitError);
    }
    const auto expected = std::span<const std::uint8_t>(session.firmware.bytes)
                              .subspan(block * kFirmwareBlockSize, kFirmwareBlockSize);
    if (!ReplyHolds(reply, replyLength, expected))
      return ReportVerifyError(session, BlockAddress(block));
  }
  return {};
}

// The program form erases the whole window before it writes a byte: a file that is no firmware
// for the board is refused, and the user confirms what is about to be burnt, before the board is
// touched.
Outcome MayErase(Session& session) {
  const FirmwareBuffer& firmware = session.firmware;
  if (!firmware.refusal.empty()) {
    session.frontend.ShowMessageBox(kFirmwareFileCaption,
                                    firmware.fileName + " is not firmware for this board: " +
                                        firmware.refusal + ". The board was not touched.",
                                    MessageIcon::Error);
    Outcome refused{OutcomeKind::FileRefused};
    refused.line = firmware.refusalLine;
    return refused;
  }
  if (session.frontend.AskYesNo(kProgramCaption, ProgramQuestion(firmware))) return {};
  return {OutcomeKind::Declined};
}

Outcome FirmwareSteps(Session& session, bool verifyOnly) {
  Frontend& frontend = session.frontend;
  if (session.collectCapcodeStrings) session.collectCapcodeStrings();
  if (session.firmware.fileName.empty()) {
    frontend.ShowMessage("Please open file first !");
    return {OutcomeKind::NoFile};
  }
  if (!verifyOnly) {
    if (Outcome asked = MayErase(session); !asked.Done()) return asked;
  }
  Outcome outcome = OpenTransfer(session);
  if (!outcome.Done()) return outcome;
  if (!verifyOnly) {
    outcome = MayProgram(session);
    if (outcome.Done()) outcome.kind = EraseAndProgram(session).kind;
    if (!outcome.Done()) return outcome;
  }
  if (const Outcome compared = ReadBackAndCompare(session); !compared.Done()) {
    outcome.kind = compared.kind;
    outcome.address = compared.address;
    return outcome;
  }
  outcome.kind = (verifyOnly ? Finish(session, "Verify Success!", "Verify Error!")
                             : Finish(session, "Transmit Success!", "Transmit Error!"))
                     .kind;
  return outcome;
}

}  // namespace

bool LoadFirmwareFile(Session& session, const std::string& path) {
  if (LoadSRecordFile(path, session.firmware)) return true;
  session.frontend.ShowMessageBox(
      "File Error", "Can't perform one of the following file operations: Open, Seek, Read, Close.",
      MessageIcon::None);
  return false;
}

std::string ProgramQuestion(const FirmwareBuffer& firmware) {
  return "Erase the board's firmware and program " + firmware.fileName + " (" +
         std::to_string(firmware.fileSize) + " bytes, identification \"" +
         firmware.Identification() + "\")?";
}

Outcome VerifyFirmware(Session& session) {
  return Reported(session, [&session] { return FirmwareSteps(session, true); });
}

Outcome ProgramFirmware(Session& session) {
  return Reported(session, [&session] { return FirmwareSteps(session, false); });
}

}  // namespace tuva
