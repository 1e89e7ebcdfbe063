// Read: fetch copy 0 of the configuration; when its sum is wrong, fall back to copy 1 and write
// copy 1's data back over copy 0 so that the board holds two good copies again.
#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "device/ReadInto.h"

namespace tuva {
namespace {

constexpr std::size_t kReadPasswordOffset = 0x83C;
constexpr std::size_t kReadPasswordField = 11;  // up to 10 characters and the zero byte

// Copy 1 is read without its check bytes: the sum check needs only the first 4096 bytes.
constexpr std::uint16_t kCopyOneReadLength = 4096;

using WorkBuffer = std::array<std::uint8_t, kImageSize>;

void TakeData(const std::vector<std::uint8_t>& reply, WorkBuffer& work) {
  std::copy_n(reply.begin() + kReplyHeaderSize, kImageSize, work.begin());
}

std::string ReadPasswordOf(const WorkBuffer& work) {
  std::string password;
  for (std::size_t i = 0; i < kReadPasswordField && work[kReadPasswordOffset + i] != 0; ++i) {
    password.push_back(static_cast<char>(work[kReadPasswordOffset + i]));
  }
  return password;
}

// While copy 0 is repaired the image holds copy 1's data, sealed, because the copy writer sends
// the image. Whatever happens, the user's image comes back and the status texts return to normal.
class RepairImage {
 public:
  RepairImage(Session& session, const WorkBuffer& work) : session_(session), saved_(session.image) {
    session_.waiting = true;
    session_.image.Assign(work);
    session_.image.Seal();
  }
  ~RepairImage() {
    session_.waiting = false;
    session_.image = saved_;
  }
  RepairImage(const RepairImage&) = delete;
  RepairImage& operator=(const RepairImage&) = delete;

 private:
  Session& session_;
  ConfigImage saved_;
};

// Copy 0 failed its sum: take copy 1 if its trailer and its data are good, and repair copy 0
// from it, reading the repaired copy back whole; `unrepaired` tells that it did not come back as
// written. Anything but Done ends the read (everything already reported, port closed).
OutcomeKind FallBackToCopyOne(Session& session, WorkBuffer& work, bool& unrepaired) {
  Frontend& frontend = session.frontend;
  if (!CheckTrailer(session, 1)) {
    frontend.ShowMessage("Read Error!");
    session.protocol.progress.Restart();
    ClosePort(session);
    return OutcomeKind::TrailerNotWellFormed;
  }
  session.protocol.progress.Restart();
  std::vector<std::uint8_t> reply;
  if (!ReadReply(session, kConfigBase + kCopyStride, kCopyOneReadLength, kLargeReplyBuffer, 1,
                 reply)) {
    ClosePort(session);
    return OutcomeKind::TransmitError;
  }
  TakeData(reply, work);
  // Both copies bad: nothing trustworthy to load or to repair copy 0 with.
  if (!PassesSumCheck(work)) {
    frontend.ShowMessage("Read Error!");
    session.protocol.progress.Restart();
    ClosePort(session);
    return OutcomeKind::SumWrong;
  }
  {
    RepairImage repair(session, work);
    EraseAndWrite(session, 0);
    if (session.protocol.linkError) {
      frontend.ShowMessage("Read Error!");
      ClosePort(session);
      frontend.SetWriteEnabled(true);
      frontend.SetStatus(Status::Ready);
      session.protocol.progress.Restart();
      return OutcomeKind::TransmitError;
    }
    // Every byte written, the trailer included, must come back, as after a Write; a read-back
    // that does not arrive proves nothing either. The data read from copy 1 stay good.
    session.protocol.progress.Begin(Phase::ReadBack, static_cast<long>(kImageDataSize));
    std::size_t length = 0;
    unrepaired =
        !ReadReply(session, kConfigBase, kImageSize, kLargeReplyBuffer, 0, reply, &length) ||
        !ReplyHolds(reply, length, session.image.bytes());
    session.protocol.linkError = false;
  }
  return OutcomeKind::Done;
}

}  // namespace

Outcome FetchConfiguration(Session& session, std::array<std::uint8_t, kImageSize>& work) {
  Frontend& frontend = session.frontend;
  session.protocol.progress.Begin(Phase::Probe, 27);
  session.protocol.linkError = false;
  if (!session.FindBoard()) return ReportBoardNotFound(session);
  frontend.SetStatus(Status::Read);
  session.protocol.progress.Begin(Phase::Read, static_cast<long>(kImageDataSize));

  std::vector<std::uint8_t> reply;
  if (!ReadReply(session, kConfigBase, kImageSize, kLargeReplyBuffer, 0, reply)) {
    ClosePort(session);
    return {OutcomeKind::TransmitError};
  }
  TakeData(reply, work);
  session.protocol.linkError = false;
  Outcome fetched;
  if (!PassesSumCheck(work)) {
    if (const OutcomeKind kind = FallBackToCopyOne(session, work, fetched.copyZeroUnrepaired);
        kind != OutcomeKind::Done)
      return {kind};
  }

  const std::string password = ReadPasswordOf(work);
  if (!password.empty()) {
    const auto typed =
        frontend.AskText("Check Read Password", "Please Input Read Password", std::string());
    if (typed.value_or(std::string()) != password) {
      frontend.ShowMessage("Read Password Error !");
      ClosePort(session);
      frontend.SetWriteEnabled(true);
      session.protocol.progress.Restart();
      return {OutcomeKind::PasswordRefused};
    }
  }
  return fetched;
}

Outcome ReadConfiguration(Session& session) {
  return Reported(session, [&session] {
    WorkBuffer work;
    const Outcome fetched = FetchConfiguration(session, work);
    if (!fetched.Done()) return fetched;
    // Only the data bytes are taken; the image's sum and check bytes stay as they were until the
    // next Write seals them.
    FlagRaiser loading(session.guards.imageLoad);
    session.image.AssignData(
        std::span<const std::uint8_t, kImageDataSize>(work.data(), kImageDataSize));
    if (session.refreshAll) session.refreshAll();
    session.frontend.ShowMessage(kReadSuccess);
    if (fetched.copyZeroUnrepaired) session.frontend.ShowMessage(kCopyZeroUnrepaired);
    ClosePort(session);
    session.frontend.SetWriteEnabled(true);
    session.frontend.SetStatus(Status::Ready);
    session.protocol.progress.Restart();
    return fetched;
  });
}

}  // namespace tuva
