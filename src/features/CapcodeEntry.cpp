#include "features/CapcodeEntry.h"

#include "features/Prompts.h"

namespace tuva {

bool CapcodeLongMode(const ConfigImage& image) {
  if (StoredAddressMode(image) == AddressMode::Long) return true;
  // The refill finds a long pair at the first long word in any slot but 1 (whose long word is the
  // second of a pair or is left alone) and 15 (which has no next record).
  for (int slot = 0; slot + 1 < kCapcodeSlots; ++slot) {
    if (slot != 1 && ReadCapcodeRecord(image, slot).longWord) return true;
  }
  return false;
}

bool CapcodeSlotHidden(const ConfigImage& image, int slot) {
  return slot == 1 && CapcodeLongMode(image);
}

std::optional<std::string> ShownCapcodeText(const ConfigImage& image, int slot) {
  const CapcodeSlotView view = DecodeCapcodes(image).slots.at(static_cast<std::size_t>(slot));
  if (!view.refilled || !view.textRefilled) return std::nullopt;
  return view.text;
}

EntryResult StoreCapcodeEntry(ConfigImage& image, int slot, std::string_view text, bool longMode) {
  const CapcodeTextCheck check = CheckCapcodeText(text, CapcodeMaximum(slot, longMode));
  switch (check.status) {
    case CapcodeTextStatus::Empty:
      return EntryResult::Unchanged();
    case CapcodeTextStatus::Accepted:
      if (EncodeCapcode(image, slot, check.value, longMode) == CapcodeForm::NotStored) {
        return EntryResult::Unchanged();
      }
      return EntryResult::Stored();
    case CapcodeTextStatus::NotNumeric:
    case CapcodeTextStatus::TooLarge:
      break;
  }
  return EntryResult::Plain(check.message);
}

std::optional<EntryResult> RefuseUnstoredCapcode(const ConfigImage& image, int slot,
                                                 std::string_view text, bool longMode) {
  const std::string_view capcode = TrimSpaces(text);
  ConfigImage trial = image;
  const EntryResult result = StoreCapcodeEntry(trial, slot, text, longMode);
  if (!result.ok || result.stored || capcode.empty()) return std::nullopt;
  std::string message = "Capcode ";
  message += capcode;
  message += " has no form the board can store in ";
  message += longMode ? "Long" : "Short";
  message += " address mode !";
  return EntryResult::Warning(message);
}

void UpdateCapcodeGroupMapFromImage(ConfigImage& image) {
  const CapcodeRefill refill = DecodeCapcodes(image);
  std::array<std::optional<std::uint32_t>, kCapcodeSlots> values;
  for (int slot = 0; slot < kCapcodeSlots; ++slot) {
    const CapcodeSlotView& view = refill.slots[static_cast<std::size_t>(slot)];
    if (view.refilled && view.textRefilled) values[static_cast<std::size_t>(slot)] = view.value;
  }
  UpdateCapcodeGroupMap(image, values);
}

namespace {

void EncodeShown(ConfigImage& image, int slot, bool longMode) {
  if (const auto text = ShownCapcodeText(image, slot)) {
    EncodeCapcodeText(image, slot, *text, longMode);
  }
}

}  // namespace

void ClickCapcodeEnable(ConfigImage& image, int slot, bool enabled, bool longMode) {
  SetCapcodeEnabled(image, slot, enabled);
  EncodeShown(image, 0, longMode);
  UpdateCapcodeGroupMapFromImage(image);
}

void ChooseAddressMode(ConfigImage& image, AddressMode mode) {
  SetStoredAddressMode(image, mode);
  if (mode == AddressMode::Short) EncodeShown(image, 1, false);
  EncodeShown(image, 0, mode == AddressMode::Long);
  UpdateCapcodeGroupMapFromImage(image);
}

EntryResult StoreCapcodePrompt(ConfigImage& image, int slot, std::string_view capcodeText) {
  std::string text = "<";
  text += capcodeText;
  text += '>';
  const EntryResult first = StorePrompt(image, slot, text);
  if (!first.ok) return first;
  return StorePrompt(image, slot, AutoCapPrompt(capcodeText));
}

}  // namespace tuva
