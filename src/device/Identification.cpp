// The board's two identification texts: "FLEX  V02.41" style, a 6-character model field, two
// characters the display skips, and a 4-character version. The firmware's text lies at the end
// of program memory, each configuration copy carries its own at 0x84B.
#include <algorithm>
#include <string>
#include <vector>

#include "device/OperationSupport.h"
#include "device/Operations.h"

namespace tuva {
namespace {

constexpr std::size_t kIdentificationLength = 12;
constexpr int kIdentificationReads = 3;

// The text from the start of the reply's data up to its first zero byte, at most 12 characters.
std::string IdentificationText(const std::vector<std::uint8_t>& buffer) {
  std::string text;
  for (std::size_t i = kReplyHeaderSize;
       i < buffer.size() && text.size() < kIdentificationLength && buffer[i] != 0; ++i) {
    text.push_back(static_cast<char>(buffer[i]));
  }
  return text;
}

// Erased program memory reads back as 0xFF; judged on the bytes as received.
bool IdentificationErased(const std::vector<std::uint8_t>& buffer) {
  const auto first = buffer.begin() + kReplyHeaderSize;
  return std::all_of(first, first + kIdentificationLength,
                     [](std::uint8_t byte) { return byte == 0xFF; });
}

// Reads the identification, once more after each garbled reply (at most kIdentificationReads in
// all) with the line brought back in step in between; the last reply is judged whatever it holds.
bool ReadIdentification(BoardLink& link, std::vector<std::uint8_t>& buffer, std::size_t& count) {
  for (int read = 1;; ++read) {
    if (!ReadRaw(link, kFirmwareVersion, kIdentificationLength, kSmallReplyBuffer, 0, buffer,
                 count) ||
        link.protocol.linkError) {
      return false;
    }
    if (IdentificationErased(buffer) || read == kIdentificationReads ||
        !IdentificationGarbled(buffer, count)) {
      return true;
    }
    link.protocol.Resynchronise();
    link.protocol.progress.Restart();
  }
}

}  // namespace

// Such a reply is the rest of an answer cut off by an earlier run, not the board's firmware, whose
// files carry printable ASCII there, up to a zero.
bool IdentificationGarbled(std::vector<std::uint8_t> buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (buffer[i] != 0x1B) continue;
    if (i + 1 == count || (buffer[i + 1] != 0xFC && buffer[i + 1] != 0xE4)) return true;
    ++i;
  }
  if (Unescape(buffer.data(), count) < kReplyHeaderSize + kIdentificationLength) return true;
  const std::string text = IdentificationText(buffer);
  return !std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::string DisplayLine(const std::string& text) {
  std::string line = "Model : " + text.substr(0, 6) + "  Version = ";
  if (text.size() > 8) line += text.substr(8, 4);
  return line;
}

std::string IdentifyFirmware(BoardLink& link) {
  link.protocol.progress.Begin(Phase::Check, 12);
  std::vector<std::uint8_t> buffer;
  std::size_t count = 0;
  if (!ReadIdentification(link, buffer, count)) return {};
  if (IdentificationErased(buffer)) return "The version field is empty!";
  Unescape(buffer.data(), count);
  return DisplayLine(IdentificationText(buffer));
}

std::string IdentifyConfiguration(BoardLink& link, int copy) {
  link.protocol.progress.Begin(Phase::Check, 12);
  std::vector<std::uint8_t> buffer;
  if (!ReadReply(link, kConfigVersion + static_cast<std::uint32_t>(copy) * kCopyStride,
                 kIdentificationLength, kSmallReplyBuffer, static_cast<std::uint16_t>(copy),
                 buffer) ||
      link.protocol.linkError) {
    return {};
  }
  const std::string text = IdentificationText(buffer);
  const std::string model = text.substr(0, 6);
  if (model == "FLEX  " || model == "POCSAG") return DisplayLine(text);
  return "This is old version !";
}

Outcome CheckFirmware(BoardLink& link) {
  return Reported(link, [&link]() -> Outcome {
    if (!link.FindBoard()) return ReportBoardNotFound(link);
    Outcome outcome;
    outcome.firmwareLine = IdentifyFirmware(link);
    if (outcome.firmwareLine.empty()) outcome.kind = OutcomeKind::ModelUnreadable;
    link.frontend.ShowMessage(outcome.Done() ? outcome.firmwareLine : "Read Error !");
    ClosePort(link);
    link.protocol.progress.Restart();
    return outcome;
  });
}

}  // namespace tuva
