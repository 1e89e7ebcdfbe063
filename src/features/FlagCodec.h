// The board's two flag conventions, and the flags that live in single bits.
//
//   plain flag:    0x01 on, 0x00 off; any nonzero byte reads as on
//   inverted flag: 0x00 on, 0xFF off; only exactly 0x00 reads as on
//
// Each flag byte uses one convention; the field says which.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/ConfigImage.h"

namespace tuva {

constexpr bool PlainFlagOn(std::uint8_t byte) {
  return byte != 0;
}
constexpr bool InvertedFlagOn(std::uint8_t byte) {
  return byte == 0x00;
}

inline bool ReadPlainFlag(const ConfigImage& image, std::size_t offset) {
  return PlainFlagOn(image.byte(offset));
}
inline void WritePlainFlag(ConfigImage& image, std::size_t offset, bool on) {
  image.setByte(offset, on ? 0x01 : 0x00);
}
inline bool ReadInvertedFlag(const ConfigImage& image, std::size_t offset) {
  return InvertedFlagOn(image.byte(offset));
}
inline void WriteInvertedFlag(ConfigImage& image, std::size_t offset, bool on) {
  image.setByte(offset, on ? 0x00 : 0xFF);
}

// Time update (CheckBox20). The board reads it in three places: the inverted flags at 0x848 and
// 0x9A4 and bit 6 of 0x037; writing sets all three and leaves the other bits of 0x037 alone.
// The box shows the flag at 0x848.
bool TimeUpdateOn(const ConfigImage& image);
void SetTimeUpdate(ConfigImage& image, bool on);

// Power-up state of output 1..9 (chkOutput0..chkOutput8, index 0..8): outputs 1-8 are bits 0-7 of
// 0x837, output 9 is bit 4 of 0x838. Only the output's own bit is written.
bool PowerUpOutputOn(const ConfigImage& image, int index);
void SetPowerUpOutput(ConfigImage& image, int index, bool on);

// "on" or "off", as the field table shows a flag.
inline const char* OnOffText(bool on) {
  return on ? "on" : "off";
}

}  // namespace tuva
