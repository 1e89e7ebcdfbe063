// The configuration image: the board's whole configuration as one block of 4100 bytes.
//
//   0..4093     configuration data
//   4094..4095  image sum, big-endian: sum of bytes 0..4093 modulo 65536
//   4096..4099  check bytes: sum high ^ 0x55, low ^ 0x55, high ^ 0xAA, low ^ 0xAA
//
// The storage is four bytes longer than the image. The second write block sent to the board runs
// four bytes past the image; the board expects 77 10 00 00 there, and those bytes live here, so
// nothing ever reads beyond the storage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tuva {

inline constexpr std::size_t kImageSize = 4100;
inline constexpr std::size_t kImageDataSize = 4094;
inline constexpr std::size_t kImageStorageSize = kImageSize + 4;

// Offsets of the sum and check bytes; the six bytes from kSumOffset are the trailer.
inline constexpr std::size_t kSumOffset = 4094;
inline constexpr std::size_t kTrailerSize = 6;

class ConfigImage {
 public:
  // The built-in content: what the board's factory image holds before any start-up default.
  ConfigImage();

  // Writes the start-up defaults over the built-in content, as the window does when it is created.
  void ApplyStartupDefaults();

  // Built-in content with start-up defaults: what a fresh programmer shows.
  static ConfigImage StartupImage();

  std::uint8_t byte(std::size_t offset) const { return bytes_[checked(offset)]; }
  void setByte(std::size_t offset, std::uint8_t value) { bytes_[checked(offset)] = value; }

  // (image[offset] >> shift) & mask(width); width 1..8, shift 0..7.
  unsigned GetBits(std::size_t offset, unsigned shift, unsigned width) const;
  // Clears `width` bits from bit `shift` and ORs in value << shift (value is not masked).
  void SetBits(std::size_t offset, unsigned shift, unsigned value, unsigned width);

  // Multi-byte fields. The board is big-endian except where a field says otherwise.
  std::uint32_t ReadBE(std::size_t offset, std::size_t width) const;
  void WriteBE(std::size_t offset, std::size_t width, std::uint32_t value);

  // The 4100 bytes of the image (not the tail).
  std::span<const std::uint8_t, kImageSize> bytes() const {
    return std::span<const std::uint8_t, kImageSize>(bytes_.data(), kImageSize);
  }
  std::span<std::uint8_t, kImageSize> mutableBytes() {
    return std::span<std::uint8_t, kImageSize>(bytes_.data(), kImageSize);
  }
  // All 4104 bytes, for the write blocks that run past the image.
  std::span<const std::uint8_t, kImageStorageSize> storage() const { return bytes_; }

  // Replaces all 4100 bytes (a file was opened) or only the data bytes 0..4093 (a board was read).
  void Assign(std::span<const std::uint8_t, kImageSize> image);
  void AssignData(std::span<const std::uint8_t, kImageDataSize> data);

  // Sum of bytes 0..4093 of the image.
  std::uint16_t Sum() const;
  // Stores the sum and the four check bytes at 4094..4099, as every transfer to the board needs.
  void Seal();

  friend bool operator==(const ConfigImage&, const ConfigImage&) = default;

 private:
  std::size_t checked(std::size_t offset) const;

  std::array<std::uint8_t, kImageStorageSize> bytes_{};
};

// Sum of the first 4094 bytes of a block (the image or a block read from the board).
std::uint16_t BlockSum(std::span<const std::uint8_t> block);

// A block read from the board is good when its first 4094 bytes sum to the big-endian word at
// 4094..4095. The block must hold at least 4096 bytes.
bool PassesSumCheck(std::span<const std::uint8_t> block);

// Six trailer bytes as three big-endian words: sum, sum ^ 0x5555, sum ^ 0xAAAA. An erased copy
// (all 0xFF) or a copy whose second write block never arrived is not well formed.
bool TrailerWellFormed(std::span<const std::uint8_t> trailer);

// Computes the six trailer bytes for a sum.
std::array<std::uint8_t, kTrailerSize> MakeTrailer(std::uint16_t sum);

// Flags raised while the window is refilled from the image, so that editors do not write back.
struct RefillGuards {
  bool capcodeRefresh = false;  // the capcode editors are being refilled
  bool imageLoad = false;       // Read or Open is refilling the window
};

// Raises a flag for the life of the object and lowers it again.
class FlagRaiser {
 public:
  explicit FlagRaiser(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagRaiser() { flag_ = false; }
  FlagRaiser(const FlagRaiser&) = delete;
  FlagRaiser& operator=(const FlagRaiser&) = delete;

 private:
  bool& flag_;
};

}  // namespace tuva
