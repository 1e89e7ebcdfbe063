#include "image/CapcodeCodec.h"

#include <limits>
#include <stdexcept>

namespace tuva {
namespace {

constexpr std::uint32_t kWordMask = 0x1FFFFF;  // FLEX address words are 21 bits
constexpr std::uint8_t kLongFlag = 0x40;
constexpr std::uint32_t kFrame = 32768;  // a long address splits into 32768-word frames

// Capcode ranges and the offsets of the long-address forms.
constexpr std::uint32_t kShortLast = 2031614;
constexpr std::uint32_t kFirstLong = 2101249;
constexpr std::uint32_t kLongFormOneLast = 1075843072;
constexpr std::uint32_t kLongFormTwoLast = 3223326720u;
constexpr std::uint32_t kLongBase = 2068481;
constexpr std::uint32_t kLongFormThreeBase = 2068479;

std::size_t RecordOffset(int record) {
  if (record < 0 || record >= kCapcodeSlots) {
    throw std::out_of_range("capcode record " + std::to_string(record));
  }
  return kCapcodeRecordBase + 4 * static_cast<std::size_t>(record);
}

void CheckSlot(int slot) {
  if (slot < 0 || slot >= kCapcodeSlots)
    throw std::out_of_range("capcode slot " + std::to_string(slot));
}

std::string Padded(std::uint32_t value, int digits) {
  std::string text = std::to_string(value);
  if (text.size() < static_cast<std::size_t>(digits)) {
    text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  }
  return text;
}

}  // namespace

CapcodeRecord ReadCapcodeRecord(const ConfigImage& image, int record) {
  const std::size_t at = RecordOffset(record) + 1;
  const std::uint8_t b1 = image.byte(at);
  return {
      static_cast<std::uint32_t>((b1 & 0x1F) << 16 | image.byte(at + 1) << 8 | image.byte(at + 2)),
      (b1 & kLongFlag) != 0};
}

void WriteCapcodeRecord(ConfigImage& image, int record, CapcodeRecord value) {
  const std::size_t at = RecordOffset(record) + 1;
  const std::uint32_t word = value.word & kWordMask;
  image.setByte(at, static_cast<std::uint8_t>((word >> 16) | (value.longWord ? kLongFlag : 0)));
  image.setByte(at + 1, static_cast<std::uint8_t>(word >> 8));
  image.setByte(at + 2, static_cast<std::uint8_t>(word));
}

CapcodeWords CapcodeToWords(std::uint32_t a) {
  CapcodeWords words;
  if (a <= kShortLast) {
    words.form = CapcodeForm::Short;
    words.first = {a + kFrame, false};
  } else if (a < kFirstLong || a > kLongCapcodeMaximum) {
    words.form = CapcodeForm::NotStored;
  } else if (a <= kLongFormTwoLast) {
    const std::uint32_t offset = a - kLongBase;
    const std::uint32_t frame = offset / kFrame;
    words.form = CapcodeForm::LongPair;
    words.first = {offset % kFrame + 1, true};
    words.second = {a <= kLongFormOneLast ? frame ^ kWordMask : frame + 0x1D8000, true};
  } else {
    const std::uint32_t offset = a - kLongFormThreeBase;
    words.form = CapcodeForm::LongPair;
    words.first = {offset % kFrame + 0x1F7FFF, true};
    words.second = {offset / kFrame + 0x1C8000, true};
  }
  return words;
}

CapcodeForm EncodeCapcode(ConfigImage& image, int slot, std::uint32_t capcode, bool longMode) {
  CheckSlot(slot);
  const CapcodeWords words = CapcodeToWords(capcode);
  if (words.form == CapcodeForm::NotStored) return words.form;
  if (words.form == CapcodeForm::LongPair && slot + 1 >= kCapcodeSlots)
    return CapcodeForm::NotStored;
  WriteCapcodeRecord(image, slot, words.first);
  if (words.form == CapcodeForm::LongPair) WriteCapcodeRecord(image, slot + 1, words.second);
  // In Long mode slot 1 is hidden; its enable bit goes with slot 0 while slot 0 holds a long pair.
  if (slot == 0 && longMode) {
    SetCapcodeEnabled(image, 1, words.form == CapcodeForm::LongPair && CapcodeEnabled(image, 0));
  }
  return words.form;
}

CapcodeForm EncodeCapcodeText(ConfigImage& image, int slot, std::string_view text, bool longMode) {
  CheckSlot(slot);
  const auto value = ParseCapcode(text);
  if (!value) return CapcodeForm::NotStored;
  return EncodeCapcode(image, slot, *value, longMode);
}

std::optional<std::uint32_t> DecodeLongPair(CapcodeRecord first, CapcodeRecord second) {
  const std::uint64_t w1 = first.word;
  const std::uint64_t w2 = second.word;
  std::uint64_t value = 0;
  if (w1 <= kFrame && w2 >= 0x1F7FFF) {
    value = w1 + (w2 ^ kWordMask) * kFrame + 2068480;
  } else if (w1 <= kFrame && w2 >= 0x1E0001 && w2 <= 0x1F0000) {
    value = w1 + (w2 - 0x1D8000) * kFrame + 2068480;
  } else if (w1 >= 0x1F7FFF && w2 >= 0x1E0001 && w2 <= 0x1E8000) {
    value = w1 + (w2 - 0x1C8000) * kFrame + 4096;
  } else {
    return std::nullopt;
  }
  if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  const CapcodeWords words = CapcodeToWords(static_cast<std::uint32_t>(value));
  if (words.form != CapcodeForm::LongPair || words.first.word != first.word ||
      words.second.word != second.word) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

CapcodeRefill DecodeCapcodes(const ConfigImage& image) {
  CapcodeRefill refill;
  for (int i = 0; i < kCapcodeSlots; ++i) {
    CapcodeSlotView& view = refill.slots[i];
    view.enabled = CapcodeEnabled(image, i);
    const CapcodeRecord first = ReadCapcodeRecord(image, i);
    if (!first.longWord) {
      if (first.word >= kFrame) view.value = first.word - kFrame;
    } else if (i == 1) {
      // The second word of a pair whose first word is no longer long: the edit keeps its text.
      view.textRefilled = false;
      continue;
    } else if (i + 1 < kCapcodeSlots) {
      view.longPair = true;
      refill.longPairFound = true;
      view.value = DecodeLongPair(first, ReadCapcodeRecord(image, i + 1));
      view.text = view.value ? Padded(*view.value, 10) : std::string(kUndecodableCapcodeText);
      CapcodeSlotView& next = refill.slots[i + 1];
      next.refilled = false;
      next.textRefilled = false;
      ++i;
      continue;
    }
    view.text = view.value ? Padded(*view.value, 7) : std::string(kUndecodableCapcodeText);
  }
  return refill;
}

bool CapcodeEnabled(const ConfigImage& image, int slot) {
  CheckSlot(slot);
  return slot < 8 ? image.GetBits(kCapcodeEnableLow, slot, 1) != 0
                  : image.GetBits(kCapcodeEnableHigh, slot - 8, 1) != 0;
}

void SetCapcodeEnabled(ConfigImage& image, int slot, bool enabled) {
  CheckSlot(slot);
  if (slot < 8) {
    image.SetBits(kCapcodeEnableLow, slot, enabled ? 1 : 0, 1);
  } else {
    image.SetBits(kCapcodeEnableHigh, slot - 8, enabled ? 1 : 0, 1);
  }
}

std::optional<AddressMode> StoredAddressMode(const ConfigImage& image) {
  switch (image.byte(kAddressModeOffset)) {
    case 0:
      return AddressMode::Short;
    case 1:
      return AddressMode::Long;
    default:
      return std::nullopt;
  }
}

void SetStoredAddressMode(ConfigImage& image, AddressMode mode) {
  image.setByte(kAddressModeOffset, static_cast<std::uint8_t>(mode));
}

void UpdateCapcodeGroupMap(ConfigImage& image,
                           const std::array<std::optional<std::uint32_t>, kCapcodeSlots>& values) {
  unsigned map = 0;
  for (int i = 0; i < kCapcodeSlots; ++i) {
    if (CapcodeEnabled(image, i) && values[i]) map |= 1u << ((*values[i] >> 4) & 15);
  }
  // The map and its seven copies are the value bytes 2..3 of parameter entries 0x20..0x27.
  for (std::size_t copy = 0; copy < 8; ++copy) image.WriteBE(kCapcodeGroupMap + 4 * copy, 2, map);
}

void UpdateCapcodeGroupMap(ConfigImage& image,
                           const std::array<std::string, kCapcodeSlots>& texts) {
  std::array<std::optional<std::uint32_t>, kCapcodeSlots> values;
  for (int i = 0; i < kCapcodeSlots; ++i) values[i] = ParseCapcode(texts[i]);
  UpdateCapcodeGroupMap(image, values);
}

std::uint32_t CapcodeMaximum(int slot, bool longMode) {
  return slot == 0 && longMode ? kLongCapcodeMaximum : kShortCapcodeMaximum;
}

std::optional<std::uint32_t> ParseCapcode(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

CapcodeTextCheck CheckCapcodeText(std::string_view text, std::uint32_t maximum) {
  CapcodeTextCheck check;
  if (text.empty()) return check;
  bool tooLarge = false;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      check.status = CapcodeTextStatus::NotNumeric;
      check.message = kCapcodeNotNumericMessage;
      return check;
    }
    // Once past the maximum the value only grows; stop adding so a long paste cannot overflow.
    if (!tooLarge) {
      value = value * 10 + static_cast<unsigned>(c - '0');
      tooLarge = value > maximum;
    }
  }
  if (tooLarge) {
    check.status = CapcodeTextStatus::TooLarge;
    check.message = std::string(kCapcodeRangeMessagePrefix) + std::to_string(maximum);
    return check;
  }
  check.status = CapcodeTextStatus::Accepted;
  check.value = static_cast<std::uint32_t>(value);
  return check;
}

}  // namespace tuva
