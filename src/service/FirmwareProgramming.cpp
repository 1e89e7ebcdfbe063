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

int ProgressMaximum(const FirmwareBuffer& firmware) {
  return static_cast<int>(std::min<std::size_t>(firmware.loadedBytes, INT_MAX));
}

// Ends the operation after a failure the protocol or this operation has already reported.
bool Stop(Session& session) {
  session.frontend.SetWriteEnabled(true);
  ClosePort(session);
  return false;
}

// Checks both identification texts: false when programming must not go on (reported, port
// closed). Both texts are asked before either is judged.
bool MayProgram(Session& session) {
  Frontend& frontend = session.frontend;
  const std::string firmwareLine = IdentifyFirmware(session);
  const std::string configurationLine = IdentifyConfiguration(session, 0);
  bool abandoned = false;
  if (firmwareLine.empty() || configurationLine.empty()) {
    frontend.ShowMessage("Read Model String Error ! ");
    abandoned = true;
  } else if (ModelOfLine(firmwareLine) == "POCSAG") {
    frontend.ShowMessage(kNotFlex);
    abandoned = true;
  } else if (ModelOfLine(configurationLine) != "FLEX  " &&
             !frontend.AskYesNo(kOverwriteCaption, kOverwriteQuestion)) {
    abandoned = true;
  }
  if (!abandoned) return true;
  Abandon(session);
  return false;
}

// One erase of the whole window, then the non-blank blocks in ascending order. A failure here
// leaves the board without complete firmware, so it is always reported.
bool EraseAndProgram(Session& session) {
  Frontend& frontend = session.frontend;
  frontend.SetStatus(kStatusErase);
  frontend.SetProgressMax(27);
  frontend.SetProgress(0);
  if (!SendChecked(session, kFirmwareBase, 0, kEraseBlock, 0)) {
    frontend.ShowMessage("Transmit Error!");
    return Stop(session);
  }
  frontend.SetStatus(kStatusWrite);
  frontend.SetProgressMax(ProgressMaximum(session.firmware));
  frontend.SetProgress(0);
  for (std::size_t block = 0; block < kFirmwareBlocks; ++block) {
    if (session.firmware.IsBlank(block)) continue;
    if (!SendChecked(session, BlockAddress(block), kFirmwareBlockSize, kWriteBlock, 0)) {
      frontend.ShowMessage("Transmit Error!");
      return Stop(session);
    }
  }
  return true;
}

// Reads back every non-blank block and compares it; stops at the first difference.
bool ReadBackAndCompare(Session& session) {
  Frontend& frontend = session.frontend;
  frontend.SetStatus(kStatusRead);
  frontend.SetProgressMax(ProgressMaximum(session.firmware));
  frontend.SetProgress(0);
  session.port.Purge();
  std::vector<std::uint8_t> reply;
  std::size_t replyLength = 0;
  for (std::size_t block = 0; block < kFirmwareBlocks; ++block) {
    if (session.firmware.IsBlank(block)) continue;
    if (!ReadReply(session, BlockAddress(block), kFirmwareBlockSize, kLargeReplyBuffer, 0, reply,
                   &replyLength)) {
      return Stop(session);
    }
    const auto expected = std::span<const std::uint8_t>(session.firmware.bytes)
                              .subspan(block * kFirmwareBlockSize, kFirmwareBlockSize);
    if (!ReplyHolds(reply, replyLength, expected)) {
      return ReportVerifyError(session);
    }
  }
  return true;
}

// The program form erases the whole window before it writes a byte: a file that is no firmware
// for the board is refused, and the user confirms what is about to be burnt, before the board is
// touched.
bool MayErase(Session& session) {
  const FirmwareBuffer& firmware = session.firmware;
  if (!firmware.refusal.empty()) {
    session.frontend.ShowMessageBox(kFirmwareFileCaption,
                                    firmware.fileName + " is not firmware for this board: " +
                                        firmware.refusal + ". The board was not touched.",
                                    MessageIcon::Error);
    return false;
  }
  return session.frontend.AskYesNo(kProgramCaption, ProgramQuestion(firmware));
}

bool FirmwareSteps(Session& session, bool verifyOnly) {
  Frontend& frontend = session.frontend;
  if (session.collectCapcodeStrings) session.collectCapcodeStrings();
  if (session.firmware.fileName.empty()) {
    frontend.ShowMessage("Please open file first !");
    return false;
  }
  if (!verifyOnly && !MayErase(session)) return false;
  frontend.SetWriteEnabled(false);
  session.protocol.linkError = false;
  frontend.SetStatus(kStatusVerify);
  frontend.SetProgressMax(27);
  frontend.SetProgress(0);
  if (!session.FindBoard()) {
    ReportBoardNotFound(session);
    frontend.SetWriteEnabled(true);
    return false;
  }
  if (!verifyOnly && (!MayProgram(session) || !EraseAndProgram(session))) return false;
  if (!ReadBackAndCompare(session)) return false;

  return verifyOnly ? Finish(session, "Verify Success!", "Verify Error!")
                    : Finish(session, "Transmit Success!", "Transmit Error!");
}

bool RunGuarded(Session& session, bool verifyOnly) {
  try {
    return FirmwareSteps(session, verifyOnly);
  } catch (const ECommError& error) {
    ReportLinkLost(session, error);
    return false;
  }
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

bool VerifyFirmware(Session& session) {
  return RunGuarded(session, true);
}

bool ProgramFirmware(Session& session) {
  return RunGuarded(session, false);
}

}  // namespace tuva
