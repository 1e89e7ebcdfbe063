#include "features/FlagCodec.h"

#include <stdexcept>
#include <string>

#include "features/FeatureLayout.h"

namespace tuva {

bool TimeUpdateOn(const ConfigImage& image) {
  return ReadInvertedFlag(image, layout::kTimeUpdate);
}

void SetTimeUpdate(ConfigImage& image, bool on) {
  WriteInvertedFlag(image, layout::kTimeUpdate, on);
  WriteInvertedFlag(image, layout::kTimeUpdateCopy, on);
  image.SetBits(layout::kTimeUpdateBitByte, layout::kTimeUpdateBit, on ? 1 : 0, 1);
}

namespace {

struct BitPlace {
  std::size_t offset;
  unsigned shift;
};

BitPlace OutputBit(int index) {
  if (index < 0 || index >= layout::kOutputCount) {
    throw std::out_of_range("output index " + std::to_string(index));
  }
  if (index == 8) return {layout::kPowerUpOutput9, layout::kPowerUpOutput9Bit};
  return {layout::kPowerUpOutputs, static_cast<unsigned>(index)};
}

}  // namespace

bool PowerUpOutputOn(const ConfigImage& image, int index) {
  const BitPlace bit = OutputBit(index);
  return image.GetBits(bit.offset, bit.shift, 1) != 0;
}

void SetPowerUpOutput(ConfigImage& image, int index, bool on) {
  const BitPlace bit = OutputBit(index);
  image.SetBits(bit.offset, bit.shift, on ? 1 : 0, 1);
}

}  // namespace tuva
