// Motorola S-record files for the board's program memory, read by the fixed columns of an S2
// record: type at 0-1, byte count at 2-3, 24-bit address at 4-9, data from 10, checksum last.
// The first non-empty line (the S0 header) is skipped; record types and checksums are not read
// here: CheckSRecordText judges them, and a file it refuses is loaded but never programmed.
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "service/SRecordLines.h"
#include "service/SRecordLoader.h"

namespace tuva {
namespace {

// A record's byte count covers three address bytes and one checksum byte besides the data.
constexpr std::uint32_t kRecordOverhead = 4;
constexpr std::size_t kCountColumn = 2;
constexpr std::size_t kAddressColumn = 4;
constexpr std::size_t kDataColumn = 10;

// The hexadecimal number in `digits` columns from `column`; false when the line is too short or
// a character is not a hexadecimal digit.
bool HexField(std::string_view line, std::size_t column, std::size_t digits, std::uint32_t& value) {
  if (column > line.size() || digits > line.size() - column) return false;
  value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int digit = HexDigit(line[column + i]);
    if (digit < 0) return false;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return true;
}

// Stores one record's data bytes. False when its address ends the load (0xF0000 or above).
// Bytes that fall outside the firmware window, or that the line is too short to hold, are skipped.
bool LoadRecord(std::string_view line, FirmwareBuffer& buffer) {
  std::uint32_t count = 0;
  std::uint32_t address = 0;
  if (!HexField(line, kCountColumn, 2, count) || !HexField(line, kAddressColumn, 6, address)) {
    return true;
  }
  if (address >= kWindowEnd) return false;
  for (std::uint32_t i = 0; i + kRecordOverhead < count; ++i) {
    const std::size_t column = kDataColumn + 2 * static_cast<std::size_t>(i);
    if (column + 2 > line.size()) break;
    std::uint32_t value = 0;
    if (!HexField(line, column, 2, value)) continue;
    const std::uint32_t target = address + i;
    if (target < kWindowBase || target >= kWindowEnd) continue;
    buffer.bytes[target - kWindowBase] = static_cast<std::uint8_t>(value);
    ++buffer.loadedBytes;
  }
  return true;
}

// The last two bytes hold the sum of all the others, low byte first.
void StoreSum(FirmwareBuffer& buffer) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < kFirmwareBufferSize - 2; ++i) {
    sum = static_cast<std::uint16_t>(sum + buffer.bytes[i]);
  }
  buffer.bytes[kFirmwareBufferSize - 2] = static_cast<std::uint8_t>(sum & 0xFF);
  buffer.bytes[kFirmwareBufferSize - 1] = static_cast<std::uint8_t>(sum >> 8);
}

}  // namespace

void LoadSRecordText(std::string_view text, FirmwareBuffer& buffer) {
  buffer.bytes.fill(0xFF);
  buffer.loadedBytes = 0;
  bool headerSkipped = false;
  EachSRecordLine(text, [&](std::size_t, std::string_view line) {
    if (!headerSkipped) {
      headerSkipped = true;
      return true;
    }
    return LoadRecord(line, buffer);
  });
  StoreSum(buffer);
}

bool LoadSRecordFile(const std::string& path, FirmwareBuffer& buffer) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (size < 0) return false;
  file.seekg(0, std::ios::beg);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!file.read(text.data(), size)) return false;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  const auto problem = CheckSRecordText(text);
  LoadSRecordText(text, buffer);
  buffer.fileName = error ? path : full.string();
  buffer.fileSize = text.size();
  buffer.refusal = problem ? problem->Text() : std::string();
  buffer.refusalLine = problem ? problem->line : 0;
  return true;
}

}  // namespace tuva
