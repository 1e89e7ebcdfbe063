#include "sim/SimFlash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace tuva::sim {
namespace {

constexpr char kMagic[8] = {'T', 'U', 'V', 'A', 'F', 'L', 'S', 'H'};

}  // namespace

SimFlash::SimFlash() {
  regions_.push_back({0x80000, 0x40000, 0x8000, std::vector<std::uint8_t>(0x40000, 0xFF)});
  regions_.push_back({0xE0000, 0x10000, 0x10000, std::vector<std::uint8_t>(0x10000, 0xFF)});
}

const SimFlash::Region* SimFlash::Find(std::uint32_t address) const {
  for (const auto& region : regions_) {
    if (address >= region.base && address - region.base < region.size) return &region;
  }
  return nullptr;
}

SimFlash::Region* SimFlash::Find(std::uint32_t address) {
  return const_cast<Region*>(std::as_const(*this).Find(address));
}

bool SimFlash::Serves(std::uint32_t address, std::size_t length) const {
  const Region* region = Find(address);
  return region && (address - region->base) + length <= region->size;
}

std::vector<std::uint8_t> SimFlash::Read(std::uint32_t address, std::size_t length) const {
  if (!Serves(address, length)) throw std::out_of_range("flash read outside the memory");
  const Region* region = Find(address);
  const auto start = region->bytes.begin() + (address - region->base);
  return std::vector<std::uint8_t>(start, start + static_cast<std::ptrdiff_t>(length));
}

std::uint8_t SimFlash::At(std::uint32_t address) const {
  return Read(address, 1)[0];
}

std::uint32_t SimFlash::SectorStart(std::uint32_t address) const {
  const Region* region = Find(address);
  if (!region) throw std::out_of_range("address outside the memory");
  return region->base + (address - region->base) / region->sectorSize * region->sectorSize;
}

std::uint32_t SimFlash::SectorEnd(std::uint32_t address) const {
  return SectorStart(address) + Find(address)->sectorSize - 1;
}

bool SimFlash::EraseSector(std::uint32_t address) {
  Region* region = Find(address);
  if (!region) return false;
  const std::uint32_t start = SectorStart(address) - region->base;
  std::fill_n(region->bytes.begin() + start, region->sectorSize, 0xFF);
  return true;
}

bool SimFlash::Program(std::uint32_t address, std::span<const std::uint8_t> data) {
  if (!Serves(address, data.size())) return false;
  Region* region = Find(address);
  auto target = region->bytes.begin() + (address - region->base);
  for (const std::uint8_t byte : data) {
    *target = static_cast<std::uint8_t>(*target & byte);
    ++target;
  }
  return true;
}

void SimFlash::Place(std::uint32_t address, std::span<const std::uint8_t> data) {
  if (!Serves(address, data.size())) throw std::out_of_range("flash placement outside the memory");
  Region* region = Find(address);
  std::copy(data.begin(), data.end(), region->bytes.begin() + (address - region->base));
}

void SimFlash::Save(const std::string& path) const {
  // Written beside the target and renamed over it, so that a board killed while saving still
  // finds its last complete flash on the next power-up.
  const std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(kMagic, sizeof kMagic);
    for (const auto& region : regions_) {
      out.write(reinterpret_cast<const char*>(region.bytes.data()),
                static_cast<std::streamsize>(region.bytes.size()));
    }
    out.flush();
    if (!out) throw std::runtime_error("cannot write the flash file " + path);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write the flash file " + path + ": " + std::strerror(errno));
  }
}

void SimFlash::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open the flash file " + path);
  char magic[sizeof kMagic] = {};
  in.read(magic, sizeof magic);
  if (!in || std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
    throw std::runtime_error(path + " is not a flash file of the simulated board");
  }
  SimFlash loaded;
  for (auto& region : loaded.regions_) {
    in.read(reinterpret_cast<char*>(region.bytes.data()),
            static_cast<std::streamsize>(region.bytes.size()));
    if (!in) throw std::runtime_error("the flash file " + path + " is cut short");
  }
  if (in.peek() != std::char_traits<char>::eof()) {
    throw std::runtime_error("the flash file " + path + " is longer than the board's memory");
  }
  *this = std::move(loaded);
}

}  // namespace tuva::sim
