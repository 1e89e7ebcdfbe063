#include "series/JigBoard.h"

#include <algorithm>
#include <span>

#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "image/CapcodeCodec.h"

namespace tuva::series {
namespace {

constexpr int kBigPhase = 1000;  // bytes; erases and trailer checks are far smaller
constexpr std::size_t kRecordsSize = kCapcodeSlots * 4;
constexpr std::size_t kTrailerOffset = kConfigTrailer - kConfigBase;

// Copy 0's capcode records and trailer, as they are on the board; false when either read failed.
bool ReadIdentity(Session& session, BoardIdentity& identity) {
  std::vector<std::uint8_t> reply;
  if (!ReadReply(session, kConfigBase + kCapcodeRecordBase, kRecordsSize, kLargeReplyBuffer, 0,
                 reply) ||
      session.protocol.linkError) {
    return false;
  }
  identity.assign(kRecordsSize + kTrailerSize, 0);
  std::copy_n(reply.begin() + kReplyHeaderSize, kRecordsSize, identity.begin());
  if (!ReadReply(session, kConfigTrailer, kTrailerSize, kSmallReplyBuffer, 0, reply) ||
      session.protocol.linkError) {
    return false;
  }
  std::copy_n(reply.begin() + kReplyHeaderSize, kTrailerSize, identity.begin() + kRecordsSize);
  return true;
}

}  // namespace

void QuietFrontend::Track(int bigPhases) {
  bigPhases_ = bigPhases;
  maximum_ = 0;
  position_ = 0;
  phasesDone_ = 0;
}

void QuietFrontend::SetProgressMax(int maximum) {
  if (maximum_ >= kBigPhase && position_ >= maximum_) ++phasesDone_;
  maximum_ = maximum;
  position_ = 0;
}

void QuietFrontend::SetProgress(int position) {
  // A bar set back to 0 mid-phase is a phase given up; only a full bar counts as done.
  position_ = position;
  Follow();
}

void QuietFrontend::StepProgress(int count) {
  position_ += count;
  Follow();
}

void QuietFrontend::Follow() {
  if (!percent_ || maximum_ < kBigPhase || bigPhases_ == 0) return;
  const int within = std::clamp(position_, 0, maximum_) * 100 / maximum_;
  percent_(std::min(100, (phasesDone_ * 100 + within) / bigPhases_));
}

BoardLook LookAtBoard(const std::string& device) {
  BoardLook look;
  QuietFrontend frontend;
  Session session(frontend);
  session.ports = {device};
  if (!session.FindBoard()) {
    look.inUse = !session.busyPorts.empty();
    return look;
  }
  look.answer = BoardLook::Answer::ProbeOnly;
  try {
    look.firmwareLine = IdentifyFirmware(session);
    if (!look.firmwareLine.empty() && !session.protocol.linkError &&
        ReadIdentity(session, look.identity)) {
      look.answer = BoardLook::Answer::Full;
    }
  } catch (const ECommError&) {
    // The board went away between the probe and the reads.
  }
  ClosePort(session);
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

bool BoardNotFound(const std::string& message) {
  return message.rfind("The target board is not found !", 0) == 0;
}

}  // namespace tuva::series
