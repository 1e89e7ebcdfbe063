#include "image/FirmwareBuffer.h"

#include <algorithm>

namespace tuva {

bool FirmwareBuffer::IsBlank(std::size_t block) const {
  if (block >= kFirmwareBlocks) return true;
  const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(block * kFirmwareBlockSize);
  return std::all_of(first, first + kFirmwareBlockSize,
                     [](std::uint8_t byte) { return byte == 0xFF; });
}

std::string FirmwareBuffer::Identification() const {
  std::string text;
  for (std::size_t i = 0; i < kFirmwareIdentificationLength; ++i) {
    const std::uint8_t byte = bytes[kFirmwareIdentification + i];
    if (byte == 0) break;
    text.push_back(static_cast<char>(byte));
  }
  return text;
}

}  // namespace tuva
