// Read: fetch copy 0 of the configuration; when its sum is wrong, fall back to copy 1 and write
// copy 1's data back over copy 0 so that the board holds two good copies again.
#include <algorithm>
#include <array>
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
// the image. Whatever happens, the user's image comes back.
class RepairImage {
 public:
  RepairImage(ConfigImage& image, const WorkBuffer& work) : image_(image), saved_(image) {
    image_.Assign(work);
    image_.Seal();
  }
  ~RepairImage() { image_ = saved_; }
  RepairImage(const RepairImage&) = delete;
  RepairImage& operator=(const RepairImage&) = delete;

 private:
  ConfigImage& image_;
  ConfigImage saved_;
};

// Copy 0 failed its sum: take copy 1 if its trailer and its data are good, and repair copy 0
// from it, reading the repaired copy back whole; `unrepaired` tells that it did not come back as
// written. Anything but Done ends the read (everything already reported, port closed).
OutcomeKind FallBackToCopyOne(BoardLink& link, Document& document, WorkBuffer& work,
                              bool& unrepaired) {
  Frontend& frontend = link.frontend;
  if (!CheckTrailer(link, 1)) {
    frontend.ShowMessage("Read Error!");
    link.protocol.progress.Restart();
    ClosePort(link);
    return OutcomeKind::TrailerNotWellFormed;
  }
  link.protocol.progress.Restart();
  std::vector<std::uint8_t> reply;
  if (!ReadReply(link, kConfigBase + kCopyStride, kCopyOneReadLength, kLargeReplyBuffer, 1,
                 reply)) {
    ClosePort(link);
    return OutcomeKind::TransmitError;
  }
  TakeData(reply, work);
  // Both copies bad: nothing trustworthy to load or to repair copy 0 with.
  if (!PassesSumCheck(work)) {
    frontend.ShowMessage("Read Error!");
    link.protocol.progress.Restart();
    ClosePort(link);
    return OutcomeKind::SumWrong;
  }
  {
    RepairImage repair(document.image, work);
    EraseAndWrite(link, 0, true);
    if (link.protocol.linkError) {
      frontend.ShowMessage("Read Error!");
      ClosePort(link);
      frontend.SetWriteEnabled(true);
      frontend.SetStatus(Status::Ready);
      link.protocol.progress.Restart();
      return OutcomeKind::TransmitError;
    }
    // Every byte written, the trailer included, must come back, as after a Write; a read-back
    // that does not arrive proves nothing either. The data read from copy 1 stay good.
    link.protocol.progress.Begin(Phase::ReadBack, static_cast<long>(kImageDataSize));
    std::size_t length = 0;
    unrepaired = !ReadReply(link, kConfigBase, kImageSize, kLargeReplyBuffer, 0, reply, &length) ||
                 !ReplyHolds(reply, length, document.image.bytes());
    link.protocol.linkError = false;
  }
  return OutcomeKind::Done;
}

// Finds the board and reads its configuration into `work` (4100 bytes, data and trailer as read).
// Anything but Done ended the read early: everything is reported and the port is closed. On
// success the port is still open.
Outcome FetchConfiguration(BoardLink& link, Document& document, WorkBuffer& work) {
  Frontend& frontend = link.frontend;
  link.protocol.progress.Begin(Phase::Probe, 27);
  if (!link.FindBoard()) return ReportBoardNotFound(link);
  frontend.SetStatus(Status::Read);
  link.protocol.progress.Begin(Phase::Read, static_cast<long>(kImageDataSize));

  std::vector<std::uint8_t> reply;
  if (!ReadReply(link, kConfigBase, kImageSize, kLargeReplyBuffer, 0, reply)) {
    ClosePort(link);
    return {OutcomeKind::TransmitError};
  }
  TakeData(reply, work);
  link.protocol.linkError = false;
  Outcome fetched;
  if (!PassesSumCheck(work)) {
    if (const OutcomeKind kind =
            FallBackToCopyOne(link, document, work, fetched.copyZeroUnrepaired);
        kind != OutcomeKind::Done)
      return {kind};
  }

  const std::string password = ReadPasswordOf(work);
  if (!password.empty()) {
    const auto typed =
        frontend.AskText("Check Read Password", "Please Input Read Password", std::string());
    if (typed.value_or(std::string()) != password) {
      frontend.ShowMessage("Read Password Error !");
      ClosePort(link);
      frontend.SetWriteEnabled(true);
      link.protocol.progress.Restart();
      return {OutcomeKind::PasswordRefused};
    }
  }
  return fetched;
}

// The fetch, then the data bytes into `into`; a Read loads them into the window and says so.
Outcome ReadInto(BoardLink& link, Document& document, ConfigImage& into, bool load) {
  return Reported(link, [&] {
    WorkBuffer work{};
    const Outcome fetched = FetchConfiguration(link, document, work);
    if (!fetched.Done()) return fetched;
    // Only the data bytes are taken; the image's sum and check bytes stay as they were until the
    // next Write seals them.
    into.AssignData(std::span<const std::uint8_t, kImageDataSize>(work.data(), kImageDataSize));
    if (load) {
      link.frontend.ImageLoaded();
      link.frontend.ShowMessage(kReadSuccess);
      if (fetched.copyZeroUnrepaired) link.frontend.ShowMessage(kCopyZeroUnrepaired);
    }
    ClosePort(link);
    link.frontend.SetWriteEnabled(true);
    link.frontend.SetStatus(Status::Ready);
    link.protocol.progress.Restart();
    return fetched;
  });
}

}  // namespace

Outcome ReadConfiguration(BoardLink& link, Document& document) {
  return ReadInto(link, document, document.image, true);
}

Outcome ReadConfigurationInto(BoardLink& link, Document& document, ConfigImage& into) {
  return ReadInto(link, document, into, false);
}

}  // namespace tuva
