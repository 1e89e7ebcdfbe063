#include "link/Protocol.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace tuva {
namespace {

constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kAccepted = 0x06;
constexpr std::size_t kAckSize = 4;
// A data reply's ETX counts only once more than the 14-byte reply header is stored; a 0x03 seen
// before that is dropped and reception goes on.
constexpr std::size_t kMinimumReplyBeforeEtx = 15;

}  // namespace

Protocol::Protocol(TCommPort& port, Frontend& frontend, const ConfigImage& image,
                   std::span<const std::uint8_t> firmware)
    : progress(frontend), port_(port), frontend_(frontend), image_(image), firmware_(firmware) {}

void Protocol::SetPollIntervals(std::chrono::milliseconds normal, std::chrono::milliseconds probe) {
  pollInterval_ = normal;
  probePollInterval_ = probe;
}

bool Protocol::PayloadFor(std::uint32_t address, std::uint16_t length, std::uint16_t bank,
                          std::span<const std::uint8_t>& payload) const {
  // Program memory mirrors the firmware buffer byte for byte.
  if (address >= kFirmwareBase && address < kFirmwareBase + kFirmwareSize) {
    const std::size_t offset = address - kFirmwareBase;
    if (offset + length > firmware_.size()) return false;
    payload = firmware_.subspan(offset, length);
    return true;
  }
  // Configuration copy `bank` mirrors the image storage: image byte i goes to copy base +
  // 0x88000 + i. The storage runs four bytes past the image for the end of the second block.
  const long long offset =
      static_cast<long long>(address) - kConfigBase - static_cast<long long>(bank) * kCopyStride;
  const auto storage = image_.storage();
  if (offset < 0 || static_cast<std::size_t>(offset) + length > storage.size()) return false;
  payload = storage.subspan(static_cast<std::size_t>(offset), length);
  return true;
}

std::uint8_t Protocol::NextSequence() {
  sequence_ = static_cast<std::uint8_t>(sequence_ + 1);
  if (sequence_ == 0xFF) sequence_ = 0x80;
  return sequence_;
}

bool Protocol::SendCommand(std::uint32_t address, std::uint16_t dataLength, std::uint8_t command,
                           std::uint8_t argument, std::uint16_t bank) {
  std::span<const std::uint8_t> payload;
  if (dataLength != 0 && command != kReadBlock && !PayloadFor(address, dataLength, bank, payload)) {
    // The bytes for this address are not in memory: sending anything would put garbage on the
    // board, so the command is refused before a byte goes out.
    linkError = true;
    return false;
  }

  const auto frame = BuildFrame(NextSequence(), command, argument, address, dataLength, payload);
  const auto wire = StuffFrame(frame);

  if (!port_.IsOpen()) {
    linkError = true;  // nothing can be sent; the caller must not take this for success
    return false;
  }
  port_.Write(wire.data(), static_cast<std::uint32_t>(wire.size()));
  progress.Step(static_cast<long>(wire.size()));
  if (trace) trace(true, wire);

  if (command == kReadBlock) return true;

  std::array<std::uint8_t, kAckSize> ack{};
  if (!ReceiveAcknowledgement(ack)) return false;
  if (trace) trace(false, ack);
  if (ack[1] != kAccepted) linkError = true;  // refused; the line itself is fine, no purge
  return true;
}

bool Protocol::ReceiveAcknowledgement(std::span<std::uint8_t, 4> ack) {
  if (!port_.IsOpen()) {
    linkError = true;
    return false;
  }
  const auto interval = probe ? probePollInterval_ : pollInterval_;
  for (auto& byte : ack) {
    if (WaitForByte(interval, byte)) continue;
    port_.Purge();
    if (!probe) {
      // The board search keeps the bars quiet while it tries one port after another.
      frontend_.SetStatus(Status::Ready);
      progress.Restart();
    }
    linkError = true;
    return false;
  }
  return true;
}

bool Protocol::WaitForByte(std::chrono::milliseconds interval, std::uint8_t& byte) {
  for (int fruitless = 0;; ++fruitless) {
    if (port_.InQueue() > 0) {
      byte = port_.ReadByte();
      return true;
    }
    if (fruitless == kFruitlessPollLimit) return false;
    frontend_.ProcessEvents();
    // Waiting on the line rather than sleeping: a byte that arrives is taken at once.
    port_.WaitForInput(static_cast<int>(interval.count()));
  }
}

void Protocol::FailReceive() {
  port_.Purge();
  frontend_.ShowMessage("Transmit Error!");
  frontend_.SetStatus(Status::Ready);
  progress.Restart();
  linkError = true;
}

bool Protocol::ReceiveReply(std::span<std::uint8_t> buffer, std::size_t& count) {
  count = 0;
  if (!port_.IsOpen()) {
    linkError = true;
    return false;
  }
  for (;;) {
    std::uint8_t byte = 0;
    if (!WaitForByte(pollInterval_, byte)) {
      FailReceive();
      return false;
    }
    if (byte == kEtx) {
      if (count >= kMinimumReplyBeforeEtx) {
        if (trace) trace(false, buffer.first(count));
        return true;
      }
      continue;  // too early to be the end: dropped
    }
    if (count == buffer.size()) {
      // Longer than anything asked for: the line is out of step with us. Stop here rather than
      // run past the buffer.
      FailReceive();
      return false;
    }
    buffer[count++] = byte;
    progress.Step(1);
  }
}

void Protocol::Resynchronise() {
  linkError = false;
  if (!port_.IsOpen()) return;
  port_.Purge();
  const std::uint8_t end = kEtx;
  port_.Write(&end, 1);
  if (trace) trace(true, std::span(&end, 1));
  // Read and dropped rather than purged: a purge would also drop the ETX not yet sent.
  const auto deadline = std::chrono::steady_clock::now() + kResyncLimit;
  const int quiet = static_cast<int>(std::max<long long>(1, 2 * pollInterval_.count()));
  while (std::chrono::steady_clock::now() < deadline && port_.WaitForInput(quiet)) {
    for (std::uint32_t queued = port_.InQueue(); queued > 0; --queued) port_.ReadByte();
    frontend_.ProcessEvents();
  }
}

std::vector<std::uint8_t> Protocol::ReadData(std::uint32_t address, std::uint16_t length,
                                             std::size_t capacity, std::uint16_t bank) {
  std::vector<std::uint8_t> buffer(capacity, 0);
  if (!SendCommand(address, length, kReadBlock, ArgumentOf(kReadBlock), bank)) return {};
  std::size_t count = 0;
  if (!ReceiveReply(buffer, count)) return {};
  const std::size_t plain = Unescape(buffer.data(), count);
  std::vector<std::uint8_t> data(length, 0);
  if (plain > kReplyHeaderSize) {
    const std::size_t carried = std::min<std::size_t>(length, plain - kReplyHeaderSize);
    std::copy_n(buffer.begin() + kReplyHeaderSize, carried, data.begin());
  }
  return data;
}

}  // namespace tuva
