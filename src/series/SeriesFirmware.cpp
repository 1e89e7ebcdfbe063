#include "series/SeriesFirmware.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <system_error>
#include <vector>

#include "device/OperationSupport.h"
#include "device/Operations.h"
#include "records/Sha256.h"
#include "series/JigBoard.h"
#include "service/FirmwareProgramming.h"
#include "service/SRecordLoader.h"

namespace tuva::series {
namespace {

// The window's last 32 bytes: the identification text at 0xEFFE0 and, at 0xEFFFE, the sum.
constexpr std::uint16_t kTailLength = 32;
constexpr std::size_t kTailOffset = kFirmwareBufferSize - kTailLength;
constexpr std::size_t kSumLength = 2;

bool SameTail(const std::vector<std::uint8_t>& reply, std::size_t count,
              const FirmwareBuffer& buffer) {
  if (count < kReplyHeaderSize + kTailLength) return false;
  const auto tail = std::span<const std::uint8_t>(reply).subspan(kReplyHeaderSize, kTailLength);
  const auto file = std::span<const std::uint8_t>(buffer.bytes).subspan(kTailOffset, kTailLength);
  return std::equal(file.begin(), file.begin() + kFirmwareIdentificationLength, tail.begin()) &&
         std::equal(file.end() - kSumLength, file.end(), tail.end() - kSumLength);
}

// Runs a firmware operation on a link of its own, trying the opening probe again when it goes
// unanswered. The last message is left in `message`.
bool RunFirmware(const std::string& device, const FirmwareBuffer& buffer,
                 Outcome (*operation)(BoardLink&, const Document&), int bigPhases,
                 const std::function<void(int)>& percent, std::string& message) {
  QuietFrontend frontend(percent);
  Document document;
  document.firmware = buffer;
  BoardLink link(frontend, document);
  link.ports = {device};
  const Outcome outcome = WithOpeningTries(kProbeTries, [&] {
    frontend.message.clear();
    frontend.Track(bigPhases);
    return operation(link, document);
  });
  if (!outcome.Done()) message = frontend.message.empty() ? "Transmit Error!" : frontend.message;
  return outcome.Done();
}

}  // namespace

std::optional<std::string> LoadSeriesFirmware(const std::string& path, SeriesFirmware& firmware) {
  const std::string cannot = "the firmware file " + path + " cannot be read";
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return cannot + " (no such file)";
  std::ifstream file(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) return cannot;
  const auto problem = CheckSRecordText(text);
  LoadSRecordText(text, firmware.buffer);
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  firmware.buffer.fileName = error ? path : full.string();
  firmware.buffer.fileSize = text.size();
  firmware.buffer.refusal = problem ? problem->Text() : std::string();
  firmware.buffer.refusalLine = problem ? problem->line : 0;
  firmware.sha256 =
      records::Sha256Hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return std::nullopt;
}

std::optional<std::string> FirmwareRefusal(const SeriesFirmware& firmware) {
  const FirmwareBuffer& buffer = firmware.buffer;
  if (!buffer.refusal.empty()) return buffer.fileName + ": " + buffer.refusal;
  if (ModelOfLine(FirmwareLineOf(buffer)) != "FLEX  ") {
    return buffer.fileName + ": its identification \"" + buffer.Identification() +
           "\" is no FLEX firmware; the configuration could not be written over it";
  }
  return std::nullopt;
}

std::string FirmwareLineOf(const FirmwareBuffer& buffer) {
  return DisplayLine(buffer.Identification());
}

FirmwareLook LookAtFirmware(const std::string& device, const FirmwareBuffer& buffer) {
  QuietFrontend frontend;
  const Document none;  // a look sends no payload
  BoardLink link(frontend, none);
  link.ports = {device};
  if (!link.FindBoard()) return FirmwareLook::NoAnswer;
  FirmwareLook look = FirmwareLook::NoAnswer;
  try {
    std::vector<std::uint8_t> reply;
    std::size_t count = 0;
    if (ReadReply(link, kFirmwareBase + kTailOffset, kTailLength, kLargeReplyBuffer, 0, reply,
                  &count) &&
        !link.protocol.linkError) {
      look = SameTail(reply, count, buffer) ? FirmwareLook::Same : FirmwareLook::Different;
    }
  } catch (const ECommError&) {
    // The board went away after the probe.
  }
  ClosePort(link);
  return look;
}

FirmwareOutcome PutFirmware(const std::string& device, const SeriesFirmware& firmware,
                            const std::function<void(int)>& percent) {
  FirmwareOutcome outcome;
  FirmwareLook look = FirmwareLook::NoAnswer;
  WithOpeningTries(kProbeTries, [&] {
    look = LookAtFirmware(device, firmware.buffer);
    return look == FirmwareLook::NoAnswer ? Outcome(OutcomeKind::BoardNotFound) : Outcome();
  });
  std::string message;
  if (look == FirmwareLook::NoAnswer) {
    outcome.state = "firmware not looked at: The target board is not found !";
    return outcome;
  }
  if (look == FirmwareLook::Same && !firmware.fullCheck) {
    outcome.ok = true;
    outcome.state = "firmware already on the board";
    return outcome;
  }
  // Every non-blank block compared: a board that passes keeps its firmware; one that differs
  // somewhere is programmed like any other.
  if (look == FirmwareLook::Same &&
      RunFirmware(device, firmware.buffer, VerifyFirmware, 1, percent, message)) {
    outcome.ok = true;
    outcome.state = "firmware verified";
    return outcome;
  }
  if (!RunFirmware(device, firmware.buffer, ProgramFirmware, 2, percent, message)) {
    // The program form may have erased the window before it failed: the board may hold none.
    outcome.state = "firmware programming failed: " + message;
    return outcome;
  }
  outcome.ok = true;
  outcome.programmed = true;
  outcome.state = "firmware programmed";
  return outcome;
}

}  // namespace tuva::series
