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
// Where the identification text lies in the buffer (board address 0xEFFE0), and its length.
inline constexpr std::size_t kFirmwareIdentification = 0xFFE0;
inline constexpr std::size_t kFirmwareIdentificationLength = 12;

struct FirmwareBuffer {
  FirmwareBuffer() { bytes.fill(0xFF); }

  std::array<std::uint8_t, kFirmwareBufferSize> bytes;
  std::size_t loadedBytes = 0;  // data bytes taken from the file, counting repeats
  std::string fileName;         // full path of the loaded file; empty: nothing loaded
  std::size_t fileSize = 0;     // bytes of the loaded file
  // Why the loaded file must not be burnt into a board ("line 3: ..."); empty when it may.
  std::string refusal;
  std::size_t refusalLine = 0;  // the line it names; 0: the file as a whole

  bool IsBlank(std::size_t block) const;  // all 2048 bytes 0xFF
  // The firmware's identification text at 0xEFFE0, up to its first zero byte (at most 12
  // characters): what Check Firmware reports once the file is on the board.
  std::string Identification() const;
};

}  // namespace tuva
