#include "image/FirmwareBuffer.h"

#include <algorithm>

namespace tuva {

bool FirmwareBuffer::IsBlank(std::size_t block) const {
  if (block >= kFirmwareBlocks) return true;
  const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(block * kFirmwareBlockSize);
  return std::all_of(first, first + kFirmwareBlockSize,
                     [](std::uint8_t byte) { return byte == 0xFF; });
}

}  // namespace tuva
