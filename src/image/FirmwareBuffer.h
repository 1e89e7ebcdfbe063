// The firmware buffer: 65536 bytes mirroring the board's program memory 0xE0000..0xEFFFF, filled
// from a Motorola S-record file. Bytes no record fills stay 0xFF (erased flash), and the last two
// bytes hold the 16-bit sum of the others, low byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tuva {

inline constexpr std::size_t kFirmwareBufferSize = 0x10000;
inline constexpr std::size_t kFirmwareBlockSize = 2048;
inline constexpr std::size_t kFirmwareBlocks = kFirmwareBufferSize / kFirmwareBlockSize;

struct FirmwareBuffer {
  FirmwareBuffer() { bytes.fill(0xFF); }

  std::array<std::uint8_t, kFirmwareBufferSize> bytes;
  std::size_t loadedBytes = 0;  // data bytes taken from the file, counting repeats
  std::string fileName;         // full path of the loaded file; empty: nothing loaded

  bool IsBlank(std::size_t block) const;  // all 2048 bytes 0xFF
};

}  // namespace tuva
