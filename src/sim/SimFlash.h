// The simulated board's NOR flash: the configuration area 0x80000..0xBFFFF in 32 KB sectors and
// the program memory 0xE0000..0xEFFFF as one 64 KB sector. Erasing sets a whole sector to 0xFF;
// programming can only clear bits (new = old & data), so a write without its erase shows up as
// wrong data, as on the real part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tuva::sim {

class SimFlash {
 public:
  SimFlash();  // everything erased

  // True when [address, address + length) lies inside one region of the memory.
  bool Serves(std::uint32_t address, std::size_t length) const;

  // The bytes at `address`; the range must be served.
  std::vector<std::uint8_t> Read(std::uint32_t address, std::size_t length) const;
  std::uint8_t At(std::uint32_t address) const;

  // Erases the sector holding `address`. False when the address is not served.
  bool EraseSector(std::uint32_t address);
  // First and last address of the sector holding `address` (served addresses only).
  std::uint32_t SectorStart(std::uint32_t address) const;
  std::uint32_t SectorEnd(std::uint32_t address) const;

  // Programs bytes as the chip does: each byte becomes old & new. False when not served.
  bool Program(std::uint32_t address, std::span<const std::uint8_t> data);

  // Puts bytes in as they are, ignoring the erase rule: the factory's programmer, and tests that
  // damage a board on purpose.
  void Place(std::uint32_t address, std::span<const std::uint8_t> data);

  // The whole memory as a file, so that a board can be powered up again later. Both throw
  // std::runtime_error with a message naming the file when it cannot be written or read, or is
  // not a flash file of this board.
  void Save(const std::string& path) const;
  void Load(const std::string& path);

  friend bool operator==(const SimFlash&, const SimFlash&) = default;

 private:
  struct Region {
    std::uint32_t base;
    std::uint32_t size;
    std::uint32_t sectorSize;
    std::vector<std::uint8_t> bytes;
    friend bool operator==(const Region&, const Region&) = default;
  };
  const Region* Find(std::uint32_t address) const;
  Region* Find(std::uint32_t address);

  std::vector<Region> regions_;
};

}  // namespace tuva::sim
