// What a simulated board holds at power-up: its firmware and its two configuration copies.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "image/ConfigImage.h"
#include "sim/SimBoard.h"

namespace tuva::sim {
namespace {

constexpr std::uint32_t kFirmwareBase = 0xE0000;
constexpr std::size_t kFirmwareSize = 0x10000;
constexpr std::size_t kFirmwareCodeSize = 0x6000;  // the program fills the first 24 KB
constexpr std::size_t kIdentificationOffset = 0xFFE0;
constexpr std::uint32_t kCopyBase[2] = {0x88000, 0xA8000};
constexpr std::size_t kReadPasswordOffset = 2108;
constexpr std::size_t kReadPasswordMax = 10;

// A repeatable stand-in for the board's program: pseudo-random code, blank flash after it, the
// identification text near the end and the 16-bit sum of everything else in the last two bytes
// (low byte first), as the firmware files carry it.
std::vector<std::uint8_t> MakeFirmware(const SimOptions& options) {
  std::vector<std::uint8_t> firmware(kFirmwareSize, 0xFF);
  std::uint32_t state = 0x2F6B1D03;
  for (std::size_t i = 0; i < kFirmwareCodeSize; ++i) {
    state = state * 1103515245u + 12345u;
    firmware[i] = static_cast<std::uint8_t>(state >> 16);
  }
  if (!options.erasedIdentification) {
    std::string text = options.pocsagFirmware ? kPocsagIdentification : kFlexIdentification;
    if (!options.identification.empty()) text = options.identification;
    text.resize(12, ' ');
    std::copy_n(text.begin(), 12, firmware.begin() + kIdentificationOffset);
    firmware[kIdentificationOffset + 12] = 0x00;
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i + 2 < kFirmwareSize; ++i) sum += firmware[i];
  firmware[kFirmwareSize - 2] = static_cast<std::uint8_t>(sum & 0xFF);
  firmware[kFirmwareSize - 1] = static_cast<std::uint8_t>((sum >> 8) & 0xFF);
  return firmware;
}

ConfigImage LoadTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open the configuration file " + path);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
  if (bytes.size() != kImageSize) {
    throw std::runtime_error("the configuration file " + path + " holds " +
                             std::to_string(bytes.size()) + " bytes, not " +
                             std::to_string(kImageSize));
  }
  std::array<std::uint8_t, kImageSize> image{};
  std::transform(bytes.begin(), bytes.end(), image.begin(),
                 [](char c) { return static_cast<std::uint8_t>(c); });
  ConfigImage result;
  result.Assign(image);
  return result;
}

// The configuration as a Write leaves it on the board: sealed, with the four bytes the second
// write block carries past the image.
ConfigImage BoardConfiguration(const SimOptions& options) {
  ConfigImage image = options.contents == SimContents::Table ? LoadTable(options.tablePath)
                                                             : ConfigImage::StartupImage();
  if (!options.readPassword.empty()) {
    if (options.readPassword.size() > kReadPasswordMax) {
      throw std::runtime_error("a read password has at most 10 characters");
    }
    for (std::size_t i = 0; i <= kReadPasswordMax; ++i) {
      const char c = i < options.readPassword.size() ? options.readPassword[i] : '\0';
      image.setByte(kReadPasswordOffset + i, static_cast<std::uint8_t>(c));
    }
  }
  image.Seal();
  return image;
}

}  // namespace

SimFlash MakeFlash(const SimOptions& options) {
  SimFlash flash;
  flash.Place(kFirmwareBase, MakeFirmware(options));
  if (options.contents == SimContents::Erased) return flash;

  const ConfigImage image = BoardConfiguration(options);
  const auto stored = image.storage();
  flash.Place(kCopyBase[1], stored);
  switch (options.contents) {
    case SimContents::Copy1Only:
      break;
    case SimContents::Copy0Corrupted: {
      // A bit that dropped after the copy was written: the trailer is still well formed, the
      // sum no longer matches the data.
      std::vector<std::uint8_t> damaged(stored.begin(), stored.end());
      damaged[0x100] ^= 0x04;
      flash.Place(kCopyBase[0], damaged);
      break;
    }
    default:
      flash.Place(kCopyBase[0], stored);
      break;
  }
  return flash;
}

}  // namespace tuva::sim
