#include "series/JigBoard.h"

#include <algorithm>
#include <span>

#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "image/CapcodeCodec.h"

namespace tuva::series {
namespace {

constexpr std::size_t kRecordsSize = kCapcodeSlots * 4;
constexpr std::size_t kTrailerOffset = kConfigTrailer - kConfigBase;

bool MovesACopy(Phase phase) {
  return phase == Phase::Read || phase == Phase::Write || phase == Phase::ReadBack ||
         phase == Phase::Verify || phase == Phase::FirmwareWrite || phase == Phase::FirmwareRead;
}

// Copy 0's capcode records and trailer, as they are on the board; false when either read failed.
bool ReadIdentity(BoardLink& link, BoardIdentity& identity) {
  std::vector<std::uint8_t> reply;
  if (!ReadReply(link, kConfigBase + kCapcodeRecordBase, kRecordsSize, kLargeReplyBuffer, 0,
                 reply) ||
      link.protocol.linkError) {
    return false;
  }
  identity.assign(kRecordsSize + kTrailerSize, 0);
  std::copy_n(reply.begin() + kReplyHeaderSize, kRecordsSize, identity.begin());
  if (!ReadReply(link, kConfigTrailer, kTrailerSize, kSmallReplyBuffer, 0, reply) ||
      link.protocol.linkError) {
    return false;
  }
  std::copy_n(reply.begin() + kReplyHeaderSize, kTrailerSize, identity.begin() + kRecordsSize);
  return true;
}

}  // namespace

void QuietFrontend::Track(int bigPhases) {
  bigPhases_ = bigPhases;
  last_ = Progress();
  phasesDone_ = 0;
}

// A phase that moved all its bytes counts as done when the next begins; one given up (its count
// set back to zero) does not. The count of a phase that begins is followed from its second value.
void QuietFrontend::ShowProgress(const Progress& progress) {
  if (progress.phase != last_.phase) {
    if (MovesACopy(last_.phase) && last_.done >= last_.total) ++phasesDone_;
    last_ = progress;
    return;
  }
  last_ = progress;
  if (!percent_ || !MovesACopy(last_.phase) || last_.total <= 0 || bigPhases_ == 0) return;
  const long within = std::clamp(last_.done, 0L, last_.total) * 100 / last_.total;
  percent_(static_cast<int>(std::min(100L, (phasesDone_ * 100 + within) / bigPhases_)));
}

BoardLook LookAtBoard(const std::string& device) {
  BoardLook look;
  QuietFrontend frontend;
  const Document none;  // a look sends no payload
  BoardLink link(frontend, none);
  link.ports = {device};
  if (!link.FindBoard()) {
    look.inUse = !link.busyPorts.empty();
    return look;
  }
  look.answer = BoardLook::Answer::ProbeOnly;
  try {
    look.firmwareLine = IdentifyFirmware(link);
    if (!look.firmwareLine.empty() && !link.protocol.linkError &&
        ReadIdentity(link, look.identity)) {
      look.answer = BoardLook::Answer::Full;
    }
  } catch (const ECommError&) {
    // The board went away between the probe and the reads.
  }
  ClosePort(link);
  return look;
}

BoardIdentity IdentityOf(const ConfigImage& sealed) {
  const auto bytes = sealed.bytes();
  BoardIdentity identity(kRecordsSize + kTrailerSize);
  std::copy_n(bytes.begin() + kCapcodeRecordBase, kRecordsSize, identity.begin());
  std::copy_n(bytes.begin() + kTrailerOffset, kTrailerSize, identity.begin() + kRecordsSize);
  return identity;
}

std::optional<std::uint32_t> CapcodeHeld(const BoardIdentity& identity,
                                         const ConfigImage& templateImage, int slot) {
  if (identity.size() != kRecordsSize + kTrailerSize ||
      !TrailerWellFormed(std::span(identity).subspan(kRecordsSize))) {
    return std::nullopt;
  }
  ConfigImage image = templateImage;
  std::copy(identity.begin(), identity.begin() + kRecordsSize,
            image.mutableBytes().begin() + kCapcodeRecordBase);
  return DecodeCapcodes(image).slots.at(static_cast<std::size_t>(slot - 1)).value;
}

bool TryAgain(OutcomeKind kind, int tries, int limit) {
  return kind == OutcomeKind::BoardNotFound && tries < limit;
}

Outcome WithOpeningTries(int limit, const std::function<Outcome()>& operation) {
  for (int tries = 1;; ++tries) {
    Outcome outcome = operation();
    if (!TryAgain(outcome.kind, tries, limit)) return outcome;
  }
}

}  // namespace tuva::series
