#include "features/SerialOutput.h"

#include <stdexcept>

#include "features/FeatureLayout.h"
#include "features/FlagCodec.h"

namespace tuva {
namespace {

// Items come from fixed lists, so an index outside them is a programming error.
void CheckItem(int item, std::size_t count) {
  if (item < 0 || static_cast<std::size_t>(item) >= count) {
    throw std::out_of_range("combo box item " + std::to_string(item));
  }
}

}  // namespace

std::optional<int> BaudItemForCode(std::uint8_t code) {
  for (std::size_t i = 0; i < kBaudCodes.size(); ++i) {
    if (kBaudCodes[i] == code) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<int> BaudItem(const ConfigImage& image) {
  return BaudItemForCode(image.byte(layout::kBaud));
}

void StoreBaudItem(ConfigImage& image, int item) {
  CheckItem(item, kBaudItems.size());
  image.setByte(layout::kBaud, kBaudCodes[item]);
}

std::optional<int> ParityItem(const ConfigImage& image) {
  const auto letter = static_cast<char>(image.byte(layout::kParity));
  for (std::size_t i = 0; i < kParityLetters.size(); ++i) {
    if (kParityLetters[i] == letter) return static_cast<int>(i);
  }
  return std::nullopt;
}

void StoreParityItem(ConfigImage& image, int item) {
  CheckItem(item, kParityItems.size());
  image.setByte(layout::kParity, static_cast<std::uint8_t>(kParityLetters[item]));
}

std::optional<int> StopBitsItem(const ConfigImage& image) {
  const int value = image.byte(layout::kStopBits);
  if (value < 1 || value > 2) return std::nullopt;
  return value - 1;
}

std::optional<int> DataBitsItem(const ConfigImage& image) {
  const int value = image.byte(layout::kDataBits);
  if (value < 7 || value > 8) return std::nullopt;
  return value - 7;
}

void StoreStopBitsItem(ConfigImage& image, int item) {
  CheckItem(item, kStopBitsItems.size());
  image.setByte(layout::kStopBits, static_cast<std::uint8_t>(item + 1));
}

void StoreDataBitsItem(ConfigImage& image, int item) {
  CheckItem(item, kDataBitsItems.size());
  image.setByte(layout::kDataBits, static_cast<std::uint8_t>(item + 7));
}

unsigned MessageDelay(const ConfigImage& image) {
  return image.byte(layout::kMessageDelay) | (image.byte(layout::kMessageDelay + 1) << 8);
}

EntryResult StoreMessageDelay(ConfigImage& image, std::string_view text) {
  if (text.empty()) return EntryResult::Unchanged();
  long long value = 0;
  EntryResult result = CheckWholeNumber(text, layout::kMessageDelayMax, value);
  if (!result.ok) return result;
  image.setByte(layout::kMessageDelayInUse, value != 0 ? 0x01 : 0x00);
  image.setByte(layout::kMessageDelay, static_cast<std::uint8_t>(value & 0xFF));
  image.setByte(layout::kMessageDelay + 1, static_cast<std::uint8_t>(value >> 8));
  return result;
}

std::size_t ControlFlagOffset(int tag) {
  if (tag < 0 || tag >= kControlFlagCount) {
    throw std::out_of_range("control flag tag " + std::to_string(tag));
  }
  // Tag 5 is not at 0x833: that byte is the low byte of the message delay.
  if (tag == kSerialOutEnableTag) return layout::kSerialOutEnable;
  return layout::kControlFlags + static_cast<std::size_t>(tag);
}

bool ControlFlag(const ConfigImage& image, int tag) {
  return ReadPlainFlag(image, ControlFlagOffset(tag));
}

void SetControlFlag(ConfigImage& image, int tag, bool on) {
  WritePlainFlag(image, ControlFlagOffset(tag), on);
}

SerialPanelEnabling PanelEnabling(bool serialOutEnable, bool functionCommandEnable) {
  SerialPanelEnabling enabling;
  enabling.parameters = serialOutEnable;
  enabling.functionCommands = serialOutEnable && !functionCommandEnable;
  enabling.captionColour = serialOutEnable ? kCaptionEnabledColour : kCaptionDisabledColour;
  return enabling;
}

SerialPanelEnabling PanelEnabling(const ConfigImage& image) {
  return PanelEnabling(ControlFlag(image, kSerialOutEnableTag),
                       ControlFlag(image, kFunctionCommandEnableTag));
}

std::string BaudText(const ConfigImage& image) {
  const auto item = BaudItem(image);
  return item ? std::string(kBaudItems[*item]) : UnknownByteText(image.byte(layout::kBaud));
}

std::string ParityText(const ConfigImage& image) {
  const auto item = ParityItem(image);
  return item ? std::string(kParityItems[*item]) : UnknownByteText(image.byte(layout::kParity));
}

}  // namespace tuva
