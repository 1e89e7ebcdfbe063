#include "features/Security.h"

#include <algorithm>
#include <stdexcept>

#include "features/FeatureLayout.h"
#include "features/Periods.h"

namespace tuva {

std::string ReadPassword(const ConfigImage& image) {
  std::string text;
  for (std::size_t i = 0; i < layout::kPasswordMax; ++i) {
    const std::uint8_t byte = image.byte(layout::kReadPassword + i);
    if (byte == 0) break;
    text += static_cast<char>(byte);
  }
  return text;
}

EntryResult StoreReadPassword(ConfigImage& image, std::string_view text) {
  if (text.size() > layout::kPasswordMax) {
    return EntryResult::Warning("The read password takes at most 10 characters !");
  }
  for (char c : text) {
    if (!(c >= '0' && c <= '9') && c != '.') return EntryResult::Warning(kNotNumericKeyMessage);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    image.setByte(layout::kReadPassword + i, static_cast<std::uint8_t>(text[i]));
  }
  image.setByte(layout::kReadPassword + text.size(), 0x00);
  return EntryResult::Stored();
}

bool ReadPasswordKeyAllowed(char key) {
  return DecimalKeyAllowed(key);
}

std::size_t FunctionPasswordOffset(int which) {
  if (which == 1) return layout::kFunctionPassword1;
  if (which == 2) return layout::kFunctionPassword2;
  throw std::out_of_range("function-command password " + std::to_string(which));
}

std::string FunctionPassword(const ConfigImage& image, int which) {
  const std::size_t offset = FunctionPasswordOffset(which);
  const std::size_t count = std::min<std::size_t>(image.byte(offset), layout::kPasswordMax);
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += static_cast<char>(image.byte(offset + 1 + i));
  return text;
}

EntryResult StoreFunctionPassword(ConfigImage& image, int which, std::string_view text) {
  const std::size_t offset = FunctionPasswordOffset(which);
  if (text.size() > layout::kPasswordMax) {
    return EntryResult::Warning("The password takes at most 10 characters !");
  }
  image.setByte(offset, static_cast<std::uint8_t>(text.size()));
  for (std::size_t i = 0; i < text.size(); ++i) {
    image.setByte(offset + 1 + i, static_cast<std::uint8_t>(text[i]));
  }
  // A full password leaves no room for the zero byte; the next byte is the other count.
  if (text.size() < layout::kPasswordMax) image.setByte(offset + 1 + text.size(), 0x00);
  return EntryResult::Stored();
}

std::size_t LockByteOffset(int tag) {
  if (tag == kSequentialLockTag) return layout::kSequentialLock;
  if (tag == kOutOfRangeTimeoutTag) return layout::kOutOfRangeTimeout;
  throw std::out_of_range("lock edit tag " + std::to_string(tag));
}

unsigned LockByte(const ConfigImage& image, int tag) {
  return image.byte(LockByteOffset(tag));
}

EntryResult StoreLockByte(ConfigImage& image, int tag, std::string_view text) {
  const std::size_t offset = LockByteOffset(tag);
  if (text.empty()) return EntryResult::Unchanged();
  long long value = 0;
  EntryResult result = CheckWholeNumber(text, 255, value);
  if (result.ok) image.setByte(offset, static_cast<std::uint8_t>(value));
  return result;
}

}  // namespace tuva
