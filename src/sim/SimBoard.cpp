#include "sim/SimBoard.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace tuva::sim {
namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kRefusal = 0x15;
constexpr char kSignature[] = "Tarnhollow";

constexpr std::uint8_t kEraseBlock = 0x10;
constexpr std::uint8_t kWriteBlock = 0x11;
constexpr std::uint8_t kReadBlock = 0x12;
constexpr std::uint8_t kProbe = 0x18;

constexpr std::size_t kHeaderSize = 24;  // STX .. data length, before the payload
// Nothing the programmer sends is longer than a 64 KB payload stuffed twice over.
constexpr std::size_t kLongestWireFrame = 2 * (kHeaderSize + 0xFFFF + 2);

std::string CommandName(std::uint8_t command) {
  static constexpr std::pair<std::uint8_t, const char*> kNames[] = {{kEraseBlock, "EraseBlock"},
                                                                    {kWriteBlock, "WriteBlock"},
                                                                    {kReadBlock, "ReadBlock"},
                                                                    {kProbe, "Probe"}};
  for (const auto& [known, name] : kNames) {
    if (known == command) return name;
  }
  char text[16];
  std::snprintf(text, sizeof text, "Command 0x%02X", command);
  return text;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%05X", value);
  return text;
}

std::uint32_t LE(const std::vector<std::uint8_t>& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[at + i];
  return value;
}

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The rest of a 4100-byte configuration reply cut off in its last bytes: configuration data, then
// bytes that land where a 12-byte identification reply carries its text, the sum and the ETX.
constexpr std::uint8_t kStaleReplyTail[] = {0x41, 0x02, 0x10, 0x20, 0x20, 0x20, 0x20, 0x20,
                                            0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0xF1, 0x20,
                                            0x20, 0x56, 0x65, 0x00, 0x5A, 0x3C, kEtx};

// Undoes the stuffing; an escape must be followed by the complement of 0x03 or 0x1B.
bool Unstuff(const std::vector<std::uint8_t>& wire, std::vector<std::uint8_t>& plain) {
  plain.clear();
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] != kEscape) {
      plain.push_back(wire[i]);
      continue;
    }
    if (i + 1 == wire.size()) return false;
    const auto original = static_cast<std::uint8_t>(~wire[++i]);
    if (original != kEtx && original != kEscape) return false;
    plain.push_back(original);
  }
  return true;
}

// The board frames its answers with code of its own, not the programmer's: were the two to share
// it, a fault in the framing would look right from both ends of the line.
void StuffInto(const std::vector<std::uint8_t>& plain, std::vector<std::uint8_t>& out) {
  for (const std::uint8_t byte : plain) {
    if (byte == kEtx || byte == kEscape) {
      out.push_back(kEscape);
      out.push_back(static_cast<std::uint8_t>(~byte));
    } else {
      out.push_back(byte);
    }
  }
  out.push_back(kEtx);
}

// Why a frame is not one the board takes, or empty when it is well formed.
std::string CheckFrame(const std::vector<std::uint8_t>& frame) {
  if (frame.size() < kHeaderSize + 2) return "frame too short";
  if (frame[0] != kStx) return "no STX";
  if (!std::equal(kSignature, kSignature + 10, frame.begin() + 6)) return "signature";
  if (frame[5] != static_cast<std::uint8_t>(~frame[4])) return "argument is not ~command";
  if ((LE(frame, 16, 3) ^ LE(frame, 19, 3)) != 0xFFFFFF) return "address complement";
  const std::uint32_t dataLength = LE(frame, 22, 2);
  if (LE(frame, 2, 2) != ((dataLength + 10) & 0xFFFF)) return "length field";
  const std::size_t payload = frame[4] == kReadBlock ? 0 : dataLength;
  if (frame.size() != kHeaderSize + payload + 2) return "frame length";
  unsigned sum = 0;
  for (std::size_t i = 0; i < kHeaderSize + payload; ++i) sum += frame[i];
  if ((sum & 0xFFFF) != LE(frame, kHeaderSize + payload, 2)) return "checksum";
  return {};
}

}  // namespace

std::string SimFrameRecord::Line() const {
  return std::string(received ? "rx " : "tx ") + command + " " + Hex(address) + " " +
         std::to_string(length) + " " + result;
}

SimBoard::SimBoard(SimOptions options) : options_(std::move(options)) {
  std::error_code error;
  if (!options_.flashFile.empty() && std::filesystem::exists(options_.flashFile, error)) {
    flash_.Load(options_.flashFile);
  } else {
    flash_ = MakeFlash(options_);
    SaveFlash();
  }
}

void SimBoard::SaveFlash() const {
  if (!options_.flashFile.empty()) flash_.Save(options_.flashFile);
}

void SimBoard::KeepFlash() {
  try {
    SaveFlash();
  } catch (const std::exception& error) {
    // The board goes on answering; the trouble with its file shows in the log.
    if (options_.log) options_.log(std::string("flash file: ") + error.what());
  }
}

void SimBoard::Record(SimFrameRecord record) {
  if (options_.log) options_.log(record.Line());
  records_.push_back(std::move(record));
}

void SimBoard::Receive(std::uint8_t byte, std::vector<std::uint8_t>& reply) {
  if (poweredOff_ || options_.silent) return;
  if (options_.cutAfterBytes && bytesReceived_ >= *options_.cutAfterBytes) {
    poweredOff_ = true;
    return;
  }
  ++bytesReceived_;
  if (byte != kEtx) {
    if (pending_.size() < kLongestWireFrame) {
      pending_.push_back(byte);
    } else {
      overlong_ = true;
    }
    return;
  }
  std::vector<std::uint8_t> wire = std::move(pending_);
  pending_.clear();
  const bool overlong = std::exchange(overlong_, false);
  if (wire.empty()) return;  // a lone ETX is line noise, not a frame
  if (overlong) {
    ++framesReceived_;
    Record({true, "Frame", 0, 0, "refused: frame too long"});
    Answer({}, 0, 0, false, reply);
  } else {
    HandleFrame(std::move(wire), reply);
  }
  if (options_.cutAfterFrames && framesReceived_ >= *options_.cutAfterFrames) poweredOff_ = true;
}

bool SimBoard::Unheard(std::uint8_t command) {
  if (command != kProbe) return std::exchange(deaf_, false);
  ++probesReceived_;
  const auto every = static_cast<std::size_t>(std::max(options_.flickerEvery, 0));
  if (every > 0 && (probesReceived_ - 1) % every >=
                       every - static_cast<std::size_t>(std::max(options_.flickerRun, 0))) {
    return true;
  }
  deaf_ = probesAnswered_++ < options_.deafAfterProbes;
  return false;
}

void SimBoard::HandleFrame(std::vector<std::uint8_t> wire, std::vector<std::uint8_t>& reply) {
  ++framesReceived_;
  std::vector<std::uint8_t> frame;
  std::string fault = Unstuff(wire, frame) ? CheckFrame(frame) : "stuffing";
  if (!fault.empty()) {
    SimFrameRecord record{true, "Frame", 0, 0, "refused: " + fault};
    if (frame.size() > 4) record.command = CommandName(frame[4]);
    Record(record);
    Answer(record, frame.size() > 1 ? frame[1] : 0, frame.size() > 4 ? frame[4] : 0, false, reply);
    return;
  }

  const std::uint8_t sequence = frame[1];
  const std::uint8_t command = frame[4];
  const std::uint32_t address = LE(frame, 16, 3);
  const auto length = static_cast<std::uint16_t>(LE(frame, 22, 2));
  SimFrameRecord record{true, CommandName(command), address, length, {}};
  bool accepted = false;
  bool changed = false;
  if (Unheard(command)) {
    record.result = "unanswered: " + std::string(command == kProbe ? "contact open" : "deaf");
    Record(record);
    return;
  }

  switch (command) {
    case kProbe:
      accepted = true;
      record.result = "probed";
      break;
    case kEraseBlock:
      accepted = changed = EraseBlock(address, record);
      break;
    case kWriteBlock:
      accepted = changed = WriteBlock(frame, address, length, record);
      break;
    case kReadBlock:
      if (!flash_.Serves(address, length)) {
        record.result = "refused: no flash at this address";
      } else {
        record.result = "read";
        Record(record);
        if (options_.garbleFirstReply && !std::exchange(staleSent_, true)) {
          reply.insert(reply.end(), std::begin(kStaleReplyTail), std::end(kStaleReplyTail));
          Record({false, "Frame", 0, sizeof kStaleReplyTail, "rest of a cut-off reply"});
        }
        SendBlock(sequence, command, address, length, reply);
        Record({false, record.command, address, length, "data"});
        return;
      }
      break;
    default:
      record.result = "refused: unknown command";
      break;
  }
  if (changed) KeepFlash();
  Record(record);
  Answer(record, sequence, command, accepted, reply);
}

// The sector holding `address` erased, unless the board is told to refuse erases; true when it
// was.
bool SimBoard::EraseBlock(std::uint32_t address, SimFrameRecord& record) {
  if (options_.refuseErase) {
    record.result = "refused: erase refused";
    return false;
  }
  if (!flash_.EraseSector(address)) {
    record.result = "refused: no flash at this address";
    return false;
  }
  record.result =
      "erased " + Hex(flash_.SectorStart(address)) + "-" + Hex(flash_.SectorEnd(address));
  return true;
}

// A block to program: written unless the board is told to refuse writes (or one is to be
// corrupted on the way); true when the flash took it.
bool SimBoard::WriteBlock(const std::vector<std::uint8_t>& frame, std::uint32_t address,
                          std::uint16_t length, SimFrameRecord& record) {
  std::span<const std::uint8_t> payload(frame.data() + kHeaderSize, length);
  ++writesReceived_;
  const auto& corrupt = options_.corruptWrite;
  const bool corrupts =
      corrupt && corrupt->command == writesReceived_ && corrupt->index < payload.size();
  std::vector<std::uint8_t> altered;
  if (corrupts) {
    altered.assign(payload.begin(), payload.end());
    altered[corrupt->index] ^= 0xFF;
    payload = altered;
  }
  if (options_.refuseWrite) {
    record.result = "refused: write refused";
    return false;
  }
  if (!flash_.Program(address, payload)) {
    record.result = "refused: no flash at this address";
    return false;
  }
  record.result = "written";
  if (corrupts) record.result += ", byte " + std::to_string(corrupt->index) + " inverted";
  // The second of a copy's two blocks completes it: copy k starts at 0x88000 + k * 0x20000.
  if (address == 0x88000 + 2050) copiesWritten_ |= 1u;
  if (address == 0xA8000 + 2050) copiesWritten_ |= 2u;
  return true;
}

// The data reply to a read: the request's header with the length of what follows, the bytes, the
// 16-bit sum, stuffed for the line.
void SimBoard::SendBlock(std::uint8_t sequence, std::uint8_t command, std::uint32_t address,
                         std::uint16_t length, std::vector<std::uint8_t>& reply) {
  std::vector<std::uint8_t> plain;
  plain.push_back(kStx);
  plain.push_back(sequence);
  PutLE(plain, (length + 10u) & 0xFFFF, 2);
  plain.push_back(command);
  plain.push_back(static_cast<std::uint8_t>(~command));
  PutLE(plain, address, 3);
  PutLE(plain, ~address & 0xFFFFFF, 3);
  PutLE(plain, length, 2);
  const auto data = flash_.Read(address, length);
  plain.insert(plain.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (const std::uint8_t byte : plain) sum += byte;
  PutLE(plain, sum & 0xFFFF, 2);
  StuffInto(plain, reply);
}

void SimBoard::Answer(SimFrameRecord request, std::uint8_t sequence, std::uint8_t command,
                      bool accepted, std::vector<std::uint8_t>& reply) {
  // Four raw bytes: the request's sequence number, ACK or NAK, the command, ETX.
  reply.push_back(sequence);
  reply.push_back(accepted ? kAck : kRefusal);
  reply.push_back(command);
  reply.push_back(kEtx);
  request.received = false;
  request.result = accepted ? "ack" : "refusal";
  Record(std::move(request));
}

}  // namespace tuva::sim
