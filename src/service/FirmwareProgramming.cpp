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
Outcome Stop(BoardLink& link, OutcomeKind why) {
  link.frontend.SetWriteEnabled(true);
  ClosePort(link);
  return {why};
}

// Checks both identification texts: anything but Done stops the programming (reported, port
// closed). Both texts are asked before either is judged.
Outcome MayProgram(BoardLink& link) {
  Frontend& frontend = link.frontend;
  Outcome outcome;
  outcome.firmwareLine = IdentifyFirmware(link);
  const std::string configurationLine = IdentifyConfiguration(link, 0);
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
  if (!outcome.Done()) Abandon(link, outcome.kind);
  return outcome;
}

// One erase of the whole window, then the non-blank blocks in ascending order. A failure here
// leaves the board without complete firmware, so it is always reported.
Outcome EraseAndProgram(BoardLink& link, const FirmwareBuffer& firmware) {
  Frontend& frontend = link.frontend;
  frontend.SetStatus(Status::Erase);
  link.protocol.progress.Begin(Phase::FirmwareErase, 27);
  if (!SendChecked(link, kFirmwareBase, 0, kEraseBlock, 0)) {
    frontend.ShowMessage("Transmit Error!");
    return Stop(link, OutcomeKind::TransmitError);
  }
  frontend.SetStatus(Status::Write);
  link.protocol.progress.Begin(Phase::FirmwareWrite, ProgressMaximum(firmware));
  for (std::size_t block = 0; block < kFirmwareBlocks; ++block) {
    if (firmware.IsBlank(block)) continue;
    if (!SendChecked(link, BlockAddress(block), kFirmwareBlockSize, kWriteBlock, 0)) {
      frontend.ShowMessage("Transmit Error!");
      return Stop(link, OutcomeKind::TransmitError);
    }
  }
  return {};
}

// Reads back every non-blank block and compares it; stops at the first difference.
Outcome ReadBackAndCompare(BoardLink& link, const FirmwareBuffer& firmware) {
  Frontend& frontend = link.frontend;
  frontend.SetStatus(Status::Read);
  link.protocol.progress.Begin(Phase::FirmwareRead, ProgressMaximum(firmware));
  link.port.Purge();
  std::vector<std::uint8_t> reply;
  std::size_t replyLength = 0;
  for (std::size_t block = 0; block < kFirmwareBlocks; ++block) {
    if (firmware.IsBlank(block)) continue;
    if (!ReadReply(link, BlockAddress(block), kFirmwareBlockSize, kLargeReplyBuffer, 0, reply,
                   &replyLength)) {
      return Stop(link, OutcomeKind::TransmitError);
    }
    const auto expected = std::span<const std::uint8_t>(firmware.bytes)
                              .subspan(block * kFirmwareBlockSize, kFirmwareBlockSize);
    if (!ReplyHolds(reply, replyLength, expected))
      return ReportVerifyError(link, BlockAddress(block));
  }
  return {};
}

// The program form erases the whole window before it writes a byte: a file that is no firmware
// for the board is refused, and the user confirms what is about to be burnt, before the board is
// touched.
Outcome MayErase(BoardLink& link, const FirmwareBuffer& firmware) {
  if (!firmware.refusal.empty()) {
    link.frontend.ShowMessageBox(kFirmwareFileCaption,
                                 firmware.fileName + " is not firmware for this board: " +
                                     firmware.refusal + ". The board was not touched.",
                                 MessageIcon::Error);
    Outcome refused{OutcomeKind::FileRefused};
    refused.line = firmware.refusalLine;
    return refused;
  }
  if (link.frontend.AskYesNo(kProgramCaption, ProgramQuestion(firmware))) return {};
  return {OutcomeKind::Declined};
}

Outcome FirmwareSteps(BoardLink& link, const FirmwareBuffer& firmware, bool verifyOnly) {
  Frontend& frontend = link.frontend;
  frontend.CollectEntries();
  if (firmware.fileName.empty()) {
    frontend.ShowMessage("Please open file first !");
    return {OutcomeKind::NoFile};
  }
  if (!verifyOnly) {
    if (Outcome asked = MayErase(link, firmware); !asked.Done()) return asked;
  }
  Outcome outcome = OpenTransfer(link);
  if (!outcome.Done()) return outcome;
  if (!verifyOnly) {
    outcome = MayProgram(link);
    if (outcome.Done()) outcome.kind = EraseAndProgram(link, firmware).kind;
    if (!outcome.Done()) return outcome;
  }
  if (const Outcome compared = ReadBackAndCompare(link, firmware); !compared.Done()) {
    outcome.kind = compared.kind;
    outcome.address = compared.address;
    return outcome;
  }
  outcome.kind = (verifyOnly ? Finish(link, "Verify Success!", "Verify Error!")
                             : Finish(link, "Transmit Success!", "Transmit Error!"))
                     .kind;
  return outcome;
}

}  // namespace

bool LoadFirmwareFile(Frontend& frontend, FirmwareBuffer& firmware, const std::string& path) {
  if (LoadSRecordFile(path, firmware)) return true;
  frontend.ShowMessageBox(
      "File Error", "Can't perform one of the following file operations: Open, Seek, Read, Close.",
      MessageIcon::None);
  return false;
}

std::string ProgramQuestion(const FirmwareBuffer& firmware) {
  return "Erase the board's firmware and program " + firmware.fileName + " (" +
         std::to_string(firmware.fileSize) + " bytes, identification \"" +
         firmware.Identification() + "\")?";
}

Outcome VerifyFirmware(BoardLink& link, const Document& document) {
  return Reported(link, [&] { return FirmwareSteps(link, document.firmware, true); });
}

Outcome ProgramFirmware(BoardLink& link, const Document& document) {
  return Reported(link, [&] { return FirmwareSteps(link, document.firmware, false); });
}

}  // namespace tuva
