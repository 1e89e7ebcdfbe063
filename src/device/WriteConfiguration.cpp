// Write and Verify of the board's two configuration copies, the trailer check and the copy writer.
//
// Copy k lives at 0x88000 + k * 0x20000 and ends in the six trailer bytes (sum, sum ^ 0x5555,
// sum ^ 0xAAAA). An erased copy, or one whose second block never arrived, has no well-formed
// trailer. Writing the copies one at a time, and the one that is still good last, keeps at least
// one good copy on the board whenever the power fails.
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

// The start shared by Write and Verify. BoardNotFound when no board answered (reported).
Outcome StartTransfer(BoardLink& link) {
  link.frontend.CollectEntries();
  return OpenTransfer(link);
}

// Identification and trailers: anything but Done abandons the write (reported, port closed). The
// outcome holds the firmware line and the trailer bits.
Outcome MayOverwrite(BoardLink& link) {
  Frontend& frontend = link.frontend;
  Outcome outcome;
  outcome.firmwareLine = IdentifyFirmware(link);
  if (ModelOfLine(outcome.firmwareLine) == "POCSAG") {
    frontend.ShowMessage(kNotFlex);
    outcome.kind = OutcomeKind::NotFlex;
  }
  outcome.goodCopies = CheckBothTrailers(link);
  if (outcome.goodCopies == 0 && !frontend.AskYesNo(kOverwriteCaption, kOverwriteQuestion) &&
      outcome.Done()) {
    outcome.kind = OutcomeKind::Declined;
  }
  if (!outcome.Done()) Abandon(link, outcome.kind);
  return outcome;
}

Outcome WriteSteps(BoardLink& link, Document& document) {
  Frontend& frontend = link.frontend;
  Protocol& protocol = link.protocol;
  if (Outcome started = StartTransfer(link); !started.Done()) return started;
  Outcome outcome = MayOverwrite(link);
  if (!outcome.Done()) return outcome;
  const unsigned goodCopies = outcome.goodCopies;

  // Only copy 1 good: it must survive until copy 0 is complete, so copy 0 goes first. Otherwise
  // copy 1 goes first and copy 0 (good or not) second.
  const int order[2] = {goodCopies == 2 ? 0 : 1, goodCopies == 2 ? 1 : 0};
  document.image.Seal();
  std::vector<std::uint8_t> reply;
  std::size_t replyLength = 0;
  for (int step = 0; step < 2 && !protocol.linkError; ++step) {
    const int copy = order[step];
    EraseAndWrite(link, copy, step == 1);
    if (protocol.linkError) {
      frontend.SetWriteEnabled(true);
      frontend.ShowMessage("Transmit Error!");
      link.protocol.progress.Restart();
      ClosePort(link);
      frontend.SetStatus(Status::ReadyDots);
      outcome.kind = OutcomeKind::TransmitError;
      return outcome;
    }
    frontend.SetStatus(step == 0 ? Status::Read : Status::Waiting);
    link.protocol.progress.Begin(Phase::ReadBack, static_cast<long>(kImageDataSize));
    if (!ReadReply(link, kConfigBase + CopyBase(copy), kImageSize, kLargeReplyBuffer,
                   static_cast<std::uint16_t>(copy), reply, &replyLength)) {
      break;
    }
    // Every one of the 4100 bytes just written, the trailer included, must come back: this
    // read-back is the whole proof that the copy holds the image.
    if (!ReplyHolds(reply, replyLength, document.image.bytes())) {
      outcome.kind = OutcomeKind::BlockDiffers;
      outcome.address = ReportVerifyError(link, kConfigBase + CopyBase(copy)).address;
      return outcome;
    }
  }
  outcome.kind = Finish(link, "Transmit Success!", "Transmit Error!").kind;
  return outcome;
}

Outcome VerifySteps(BoardLink& link, const Document& document) {
  Frontend& frontend = link.frontend;
  if (Outcome started = StartTransfer(link); !started.Done()) return started;
  frontend.SetStatus(Status::Read);
  link.protocol.progress.Begin(Phase::Verify, static_cast<long>(kImageDataSize));
  std::vector<std::uint8_t> reply;
  std::size_t replyLength = 0;
  if (ReadReply(link, kConfigBase, kVerifyReadLength, kLargeReplyBuffer, 0, reply, &replyLength) &&
      !ReplyHolds(reply, replyLength, document.image.bytes().first(kImageDataSize))) {
    return ReportVerifyError(link, kConfigBase);
  }
  return Finish(link, "Verify Success!", "Verify Error!");
}

}  // namespace

bool CheckTrailer(BoardLink& link, int copy) {
  link.protocol.progress.Begin(Phase::Check, 12);
  std::vector<std::uint8_t> reply;
  if (!ReadReply(link, kConfigTrailer + CopyBase(copy), kTrailerSize, kSmallReplyBuffer,
                 static_cast<std::uint16_t>(copy), reply) ||
      link.protocol.linkError) {
    return false;
  }
  return TrailerWellFormed(
      std::span<const std::uint8_t>(reply).subspan(kReplyHeaderSize, kTrailerSize));
}

unsigned CheckBothTrailers(BoardLink& link) {
  unsigned good = CheckTrailer(link, 0) ? 1u : 0u;
  if (CheckTrailer(link, 1)) good |= 2u;
  return good;
}

void EraseAndWrite(BoardLink& link, int copy, bool waiting) {
  Frontend& frontend = link.frontend;
  const std::uint32_t base = CopyBase(copy);
  const auto bank = static_cast<std::uint16_t>(copy);
  frontend.SetStatus(waiting ? Status::Waiting : Status::Erase);
  link.protocol.progress.Begin(Phase::Erase, 27);
  frontend.ErasingCopy();
  // The copy spans two flash sectors; the second erase is sent whatever became of the first.
  SendChecked(link, base + kConfigBase, 0, kEraseBlock, bank);
  SendChecked(link, base + kConfigSecondErase, 0, kEraseBlock, bank);
  if (link.protocol.linkError) {
    ClosePort(link);
    return;
  }
  frontend.SetStatus(waiting ? Status::Waiting : Status::Write);
  link.protocol.progress.Begin(Phase::Write, static_cast<long>(kImageSize));
  if (!SendChecked(link, base + kConfigBase, kWriteBlockLength, kWriteBlock, bank) ||
      !SendChecked(link, base + kConfigBase + kSecondBlockOffset, kWriteBlockLength, kWriteBlock,
                   bank)) {
    ClosePort(link);
  }
}

Outcome WriteConfiguration(BoardLink& link, Document& document) {
  return Reported(link, [&] { return WriteSteps(link, document); });
}

Outcome VerifyConfiguration(BoardLink& link, Document& document) {
  return Reported(link, [&] { return VerifySteps(link, document); });
}

}  // namespace tuva
