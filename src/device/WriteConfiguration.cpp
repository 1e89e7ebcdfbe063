// Write and Verify of the board's two configuration copies, the trailer check and the copy writer.
//
// Copy k lives at 0x88000 + k * 0x20000 and ends in the six trailer bytes (sum, sum ^ 0x5555,
// sum ^ 0xAAAA). An erased copy, or one whose second block never arrived, has no well-formed
// trailer. Writing the copies one at a time, and the one that is still good last, keeps at least
// one good copy on the board whenever the power fails.
#include <algorithm>
#include <span>
#include <vector>

#include "device/OperationSupport.h"
#include "device/Operations.h"

namespace tuva {
namespace {

// The second write block starts 2050 bytes in and overlaps the first by four bytes; it runs four
// bytes past the image into the storage tail (77 10 00 00).
constexpr std::uint16_t kWriteBlockLength = 2054;
constexpr std::uint32_t kSecondBlockOffset = 2050;
// Verify reads the data and the sum; only the data are compared.
constexpr std::uint16_t kVerifyReadLength = 4096;

std::uint32_t CopyBase(int copy) {
  return static_cast<std::uint32_t>(copy) * kCopyStride;
}

// Clears the copy writer's waiting flag on every way out of a Write.
class WaitingReset {
 public:
  explicit WaitingReset(Session& session) : session_(session) {}
  ~WaitingReset() { session_.waiting = false; }
  WaitingReset(const WaitingReset&) = delete;
  WaitingReset& operator=(const WaitingReset&) = delete;

 private:
  Session& session_;
};

// The start shared by Write and Verify. False when no board answered (reported).
bool StartTransfer(Session& session) {
  Frontend& frontend = session.frontend;
  if (session.collectCapcodeStrings) session.collectCapcodeStrings();
  frontend.SetWriteEnabled(false);
  session.protocol.linkError = false;
  frontend.SetStatus(kStatusVerify);
  frontend.SetProgressMax(27);
  frontend.SetProgress(0);
  if (session.FindBoard()) return true;
  ReportBoardNotFound(session);
  frontend.SetWriteEnabled(true);
  return false;
}

// Identification and trailers: false when the write is abandoned (reported, port closed).
// `goodCopies` receives the trailer bits.
bool MayOverwrite(Session& session, unsigned& goodCopies) {
  Frontend& frontend = session.frontend;
  bool abandoned = false;
  if (ModelOfLine(IdentifyFirmware(session)) == "POCSAG") {
    frontend.ShowMessage(kNotFlex);
    abandoned = true;
  }
  goodCopies = CheckBothTrailers(session);
  if (goodCopies == 0 && !frontend.AskYesNo(kOverwriteCaption, kOverwriteQuestion)) {
    abandoned = true;
  }
  if (!abandoned) return true;
  Abandon(session);
  return false;
}

bool WriteSteps(Session& session) {
  Frontend& frontend = session.frontend;
  Protocol& protocol = session.protocol;
  if (!StartTransfer(session)) return false;
  unsigned goodCopies = 0;
  if (!MayOverwrite(session, goodCopies)) return false;

  // Only copy 1 good: it must survive until copy 0 is complete, so copy 0 goes first. Otherwise
  // copy 1 goes first and copy 0 (good or not) second.
  const int order[2] = {goodCopies == 2 ? 0 : 1, goodCopies == 2 ? 1 : 0};
  session.image.Seal();
  WaitingReset waitingReset(session);
  std::vector<std::uint8_t> reply;
  std::size_t replyLength = 0;
  for (int step = 0; step < 2 && !protocol.linkError; ++step) {
    const int copy = order[step];
    session.waiting = step == 1;
    EraseAndWrite(session, copy);
    if (protocol.linkError) {
      frontend.SetWriteEnabled(true);
      frontend.ShowMessage("Transmit Error!");
      frontend.SetProgress(0);
      ClosePort(session);
      frontend.SetStatus(kStatusReadyDots);
      return false;
    }
    frontend.SetStatus(step == 0 ? kStatusRead : kStatusWaiting);
    frontend.SetProgressMax(static_cast<int>(kImageDataSize));
    frontend.SetProgress(0);
    if (!ReadReply(session, kConfigBase + CopyBase(copy), kImageSize, kLargeReplyBuffer,
                   static_cast<std::uint16_t>(copy), reply, &replyLength)) {
      break;
    }
    // Every one of the 4100 bytes just written, the trailer included, must come back: this
    // read-back is the whole proof that the copy holds the image.
    if (!ReplyHolds(reply, replyLength, session.image.bytes())) return ReportVerifyError(session);
  }
  return Finish(session, "Transmit Success!", "Transmit Error!");
}

bool VerifySteps(Session& session) {
  Frontend& frontend = session.frontend;
  if (!StartTransfer(session)) return false;
  frontend.SetStatus(kStatusRead);
  frontend.SetProgressMax(static_cast<int>(kImageDataSize));
  frontend.SetProgress(0);
  std::vector<std::uint8_t> reply;
  std::size_t replyLength = 0;
  if (ReadReply(session, kConfigBase, kVerifyReadLength, kLargeReplyBuffer, 0, reply,
                &replyLength) &&
      !ReplyHolds(reply, replyLength, session.image.bytes().first(kImageDataSize))) {
    return ReportVerifyError(session);
  }
  return Finish(session, "Verify Success!", "Verify Error!");
}

}  // namespace

bool CheckTrailer(Session& session, int copy) {
  session.frontend.SetProgressMax(12);
  session.frontend.SetProgress(0);
  std::vector<std::uint8_t> reply;
  if (!ReadReply(session, kConfigTrailer + CopyBase(copy), kTrailerSize, kSmallReplyBuffer,
                 static_cast<std::uint16_t>(copy), reply) ||
      session.protocol.linkError) {
    return false;
  }
  return TrailerWellFormed(
      std::span<const std::uint8_t>(reply).subspan(kReplyHeaderSize, kTrailerSize));
}

unsigned CheckBothTrailers(Session& session) {
  unsigned good = CheckTrailer(session, 0) ? 1u : 0u;
  if (CheckTrailer(session, 1)) good |= 2u;
  return good;
}

void EraseAndWrite(Session& session, int copy) {
  Frontend& frontend = session.frontend;
  const std::uint32_t base = CopyBase(copy);
  const auto bank = static_cast<std::uint16_t>(copy);
  frontend.SetStatus(session.waiting ? kStatusWaiting : kStatusErase);
  frontend.SetProgressMax(27);
  frontend.SetProgress(0);
  if (session.beforeErase) session.beforeErase();
  // The copy spans two flash sectors; the second erase is sent whatever became of the first.
  SendChecked(session, base + kConfigBase, 0, kEraseBlock, bank);
  SendChecked(session, base + kConfigSecondErase, 0, kEraseBlock, bank);
  if (session.protocol.linkError) {
    ClosePort(session);
    return;
  }
  frontend.SetStatus(session.waiting ? kStatusWaiting : kStatusWrite);
  frontend.SetProgressMax(static_cast<int>(kImageSize));
  frontend.SetProgress(0);
  if (!SendChecked(session, base + kConfigBase, kWriteBlockLength, kWriteBlock, bank) ||
      !SendChecked(session, base + kConfigBase + kSecondBlockOffset, kWriteBlockLength, kWriteBlock,
                   bank)) {
    ClosePort(session);
  }
}

bool WriteConfiguration(Session& session) {
  try {
    return WriteSteps(session);
  } catch (const ECommError& error) {
    ReportLinkLost(session, error);
    return false;
  }
}

bool VerifyConfiguration(Session& session) {
  try {
    return VerifySteps(session);
  } catch (const ECommError& error) {
    ReportLinkLost(session, error);
    return false;
  }
}

}  // namespace tuva
