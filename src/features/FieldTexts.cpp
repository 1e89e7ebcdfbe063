#include "features/FieldTexts.h"

#include <span>

#include "features/CapcodeEntry.h"
#include "features/CapcodeStrings.h"
#include "features/FieldRows.h"
#include "features/FlagCodec.h"
#include "features/Periods.h"
#include "features/Prompts.h"
#include "features/Security.h"
#include "features/SerialOutput.h"
#include "image/FrequencyCodec.h"
#include "image/Utf8.h"

namespace tuva {
namespace {

using Getter = std::function<std::optional<std::string>(const ConfigImage&)>;
using Setter = std::function<EntryResult(ConfigImage&, std::string_view)>;

constexpr std::string_view kOnText = "on";
constexpr std::string_view kOffText = "off";

// The item of a list box named by its text; the refusal names the items.
std::optional<int> FindItem(std::span<const std::string_view> items, std::string_view text,
                            EntryResult& refusal) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) return static_cast<int>(i);
  }
  std::string list;
  for (std::string_view item : items) {
    list += list.empty() ? "\"" : ", \"";
    list += item;
    list += '"';
  }
  refusal = EntryResult::Warning("Please choose one of " + list + " !");
  return std::nullopt;
}

std::optional<bool> ReadOnOff(std::string_view text, EntryResult& refusal) {
  if (text == kOnText) return true;
  if (text == kOffText) return false;
  refusal = EntryResult::Warning("Please write \"on\" or \"off\" !");
  return std::nullopt;
}

FieldTextCodec Flag(std::function<bool(const ConfigImage&)> read,
                    std::function<void(ConfigImage&, bool)> write,
                    ApplyStage stage = ApplyStage::Value) {
  return {[read](const ConfigImage& image) -> std::optional<std::string> {
            return std::string(read(image) ? kOnText : kOffText);
          },
          [write](ConfigImage& image, std::string_view text) {
            EntryResult refusal;
            const auto on = ReadOnOff(text, refusal);
            if (!on) return refusal;
            write(image, *on);
            return EntryResult::Stored();
          },
          stage};
}

FieldTextCodec PlainFlagAt(std::size_t offset) {
  return Flag([offset](const ConfigImage& image) { return ReadPlainFlag(image, offset); },
              [offset](ConfigImage& image, bool on) { WritePlainFlag(image, offset, on); });
}

FieldTextCodec InvertedFlagAt(std::size_t offset) {
  return Flag([offset](const ConfigImage& image) { return ReadInvertedFlag(image, offset); },
              [offset](ConfigImage& image, bool on) { WriteInvertedFlag(image, offset, on); });
}

// A list box: the item's text, stored by the box's handler.
template <std::size_t N>
FieldTextCodec List(const std::array<std::string_view, N>& items,
                    std::function<std::optional<int>(const ConfigImage&)> read,
                    std::function<void(ConfigImage&, int)> store,
                    ApplyStage stage = ApplyStage::Value) {
  const std::span<const std::string_view> all(items);
  return {[all, read](const ConfigImage& image) -> std::optional<std::string> {
            const auto item = read(image);
            if (!item) return std::nullopt;
            return std::string(all[static_cast<std::size_t>(*item)]);
          },
          [all, read, store](ConfigImage& image, std::string_view text) {
            EntryResult refusal;
            const auto item = FindItem(all, text, refusal);
            if (!item) return refusal;
            if (read(image) == item) return EntryResult::Unchanged();
            store(image, *item);
            return EntryResult::Stored();
          },
          stage};
}

FieldTextCodec Decimal(std::size_t offset, long long maximum) {
  return {[offset](const ConfigImage& image) -> std::optional<std::string> {
            return std::to_string(image.byte(offset));
          },
          [offset, maximum](ConfigImage& image, std::string_view text) {
            long long value = 0;
            const EntryResult result = CheckWholeNumber(text, maximum, value);
            if (result.ok) image.setByte(offset, static_cast<std::uint8_t>(value));
            return result;
          },
          ApplyStage::Exact};
}

// ---- capcodes ----

// In Long mode the edit and box of capcode 2 are hidden: capcode 1 may take its record.
constexpr std::string_view kHiddenCapcodeMessage =
    "Capcode #2 is hidden in Long address mode: choose Short to set it";

FieldTextCodec CapcodeAddress(int slot) {
  return {[slot](const ConfigImage& image) -> std::optional<std::string> {
            const auto shown = ShownCapcodeText(image, slot);
            if (shown == kUndecodableCapcodeText) return std::nullopt;
            return shown;
          },
          [slot](ConfigImage& image, std::string_view text) {
            if (CapcodeSlotHidden(image, slot)) {
              return EntryResult::Plain(kHiddenCapcodeMessage);
            }
            const EntryResult result = StoreCapcodeEntry(image, slot, text, CapcodeLongMode(image));
            if (!result.ok || text.empty()) return result;
            // Leaving the edit refills the panel, which rebuilds the group map, and in "Auto
            // Cap." mode makes the slot's prompt from the capcode shown.
            UpdateCapcodeGroupMapFromImage(image);
            if (SourceModeItem(image) == kSourceAutoCap) {
              if (const auto shown = ShownCapcodeText(image, slot)) {
                StoreCapcodePrompt(image, slot, *shown);
              }
            }
            return result;
          }};
}

FieldTextCodec CapcodeEnable(int slot) {
  FieldTextCodec codec =
      Flag([slot](const ConfigImage& image) { return CapcodeEnabled(image, slot); },
           [slot](ConfigImage& image, bool on) {
             ClickCapcodeEnable(image, slot, on, CapcodeLongMode(image));
           },
           ApplyStage::Enable);
  const Setter store = codec.set;
  codec.set = [slot, store](ConfigImage& image, std::string_view text) {
    if (CapcodeSlotHidden(image, slot)) {
      return EntryResult::Plain(kHiddenCapcodeMessage);
    }
    return store(image, text);
  };
  return codec;
}

FieldTextCodec AddressModeCodec() {
  static constexpr std::array<std::string_view, 2> kItems = {"Short", "Long"};
  return List(
      kItems,
      [](const ConfigImage& image) -> std::optional<int> {
        const auto mode = StoredAddressMode(image);
        if (!mode) return std::nullopt;
        return static_cast<int>(*mode);
      },
      [](ConfigImage& image, int item) {
        ChooseAddressMode(image, static_cast<AddressMode>(item));
      },
      ApplyStage::Selector);
}

// ---- frequency ----

PllState StateOf(const ConfigImage& image) {
  PllState state;
  SelectStoredBand(image, state);
  RefreshPll(image, state);
  return state;
}

EntryResult StoreFrequencyMhz(ConfigImage& image, std::string_view text) {
  text = TrimSpaces(text);
  if (text.empty()) return EntryResult::Unchanged();
  const auto point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  const auto digitsOnly = [](std::string_view part) {
    return part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!digitsOnly(whole) || !digitsOnly(fraction) || whole.size() + fraction.size() == 0) {
    return EntryResult::Warning(kFrequencyNotNumericMessage, kFrequencyCaption);
  }
  // Digits below 100 Hz must be zeros to lie on any channel raster.
  bool offRaster = false;
  if (fraction.size() > 4) {
    offRaster = fraction.substr(4).find_first_not_of('0') != std::string_view::npos;
    fraction = fraction.substr(0, 4);
  }
  std::string units(whole);
  units += fraction;
  units.append(4 - fraction.size(), '0');
  ConfigImage changed = image;
  const FrequencyResult result = ApplyFrequencyText(changed, StateOf(image), units);
  if (result.status == FrequencyStatus::Refused) {
    return EntryResult::Warning(result.message, kFrequencyCaption);
  }
  if (offRaster) return EntryResult::Warning(kChannelSpacingMessage, kFrequencyCaption);
  image = changed;
  return EntryResult::Stored();
}

FieldTextCodec BandCodec() {
  std::array<std::string_view, kBandCount> items;
  for (int i = 0; i < kBandCount; ++i) items[i] = kBands[i].text;
  static const auto kItems = items;
  return List(
      kItems,
      [](const ConfigImage& image) -> std::optional<int> {
        const std::uint8_t band = image.byte(kBandOffset);
        if (band >= kBandCount) return std::nullopt;
        return band;
      },
      [](ConfigImage& image, int item) {
        PllState state = StateOf(image);
        ApplyBand(image, state, item);
      },
      ApplyStage::Selector);
}

// ---- outputs ----

FieldTextCodec PeriodCodec(int index) {
  return {[index](const ConfigImage& image) -> std::optional<std::string> {
            if (!PreScalerItemOf(image)) return std::nullopt;
            return PeriodText(image, index);
          },
          [index](ConfigImage& image, std::string_view text) {
            const auto item = PreScalerItemOf(image);
            if (!item) {
              return EntryResult::Warning(
                  "No pre-scaler is chosen: please choose a pre-scaler before setting a period !");
            }
            return StorePeriod(image, index, text, kPreScalerItems[*item].factor);
          }};
}

FieldTextCodec PreScalerCodec() {
  std::array<std::string_view, kPreScalerItems.size()> items;
  for (std::size_t i = 0; i < items.size(); ++i) items[i] = kPreScalerItems[i].text;
  static const auto kItems = items;
  return List(
      kItems, [](const ConfigImage& image) { return PreScalerItemOf(image); },
      [](ConfigImage& image, int item) { ApplyPreScaler(image, item); }, ApplyStage::Selector);
}

// ---- texts ----

FieldTextCodec TextCodec(std::function<std::string(const ConfigImage&)> read,
                         std::function<EntryResult(ConfigImage&, std::string_view)> store) {
  return {[read](const ConfigImage& image) -> std::optional<std::string> {
            return EscapedText(read(image));
          },
          [store](ConfigImage& image, std::string_view text) {
            return store(image, UnescapeText(text));
          }};
}

FieldTextCodec SourceModeCodec() {
  return List(
      kSourceModeItems, [](const ConfigImage& image) { return SourceModeItem(image); },
      [](ConfigImage& image, int item) {
        StoreSourceMode(image, item);
        // Answering the window's question with Yes: every capcode becomes its slot's prompt.
        if (item != kSourceAutoCap) return;
        for (int slot = 0; slot < kPromptCount; ++slot) {
          if (const auto shown = ShownCapcodeText(image, slot)) {
            StoreCapcodePrompt(image, slot, *shown);
          }
        }
      },
      ApplyStage::Selector);
}

FieldTextCodec PolarityCodec() {
  return List(
      kPolarityItems,
      [](const ConfigImage& image) -> std::optional<int> {
        return static_cast<int>(ReadPolarity(image));
      },
      [](ConfigImage& image, int item) { WritePolarity(image, static_cast<Polarity>(item)); });
}

FieldTextCodec LockCodec(int tag) {
  return {
      [tag](const ConfigImage& image) -> std::optional<std::string> {
        return std::to_string(LockByte(image, tag));
      },
      [tag](ConfigImage& image, std::string_view text) { return StoreLockByte(image, tag, text); }};
}

FieldTextCodec PairStringCodec(CapcodeString kind, int capcode) {
  return {[kind, capcode](const ConfigImage& image) -> std::optional<std::string> {
            return PairListText(ReadCapcodeString(image, kind, capcode));
          },
          [kind, capcode](ConfigImage& image, std::string_view text) {
            return StoreCapcodeString(image, kind, capcode, text);
          }};
}

FieldTextCodec FunctionCodeCodec(int capcode) {
  return {[capcode](const ConfigImage& image) -> std::optional<std::string> {
            return PairListText(ReadFunctionCode(image, capcode));
          },
          [capcode](ConfigImage& image, std::string_view text) {
            return StoreFunctionCode(image, capcode, text);
          }};
}

// The check boxes and list boxes.
std::optional<FieldTextCodec> BoxCodec(const Field& field) {
  const int slot = field.slot;
  switch (field.codec) {
    case FieldCodec::PlainFlag:
      return PlainFlagAt(field.offset);
    case FieldCodec::InvertedFlag:
      return InvertedFlagAt(field.offset);
    case FieldCodec::TimeUpdate:
      return Flag(TimeUpdateOn, SetTimeUpdate);
    case FieldCodec::InternalFunctionCommand:
      return Flag(
          [slot](const ConfigImage& image) { return InternalFunctionCommand(image, slot); },
          [slot](ConfigImage& image, bool on) { SetInternalFunctionCommand(image, slot, on); });
    case FieldCodec::PowerUpOutput:
      return Flag([slot](const ConfigImage& image) { return PowerUpOutputOn(image, slot); },
                  [slot](ConfigImage& image, bool on) { SetPowerUpOutput(image, slot, on); });
    case FieldCodec::CapcodeEnable:
      return CapcodeEnable(slot);
    case FieldCodec::Baud:
      return List(kBaudItems, BaudItem, StoreBaudItem);
    case FieldCodec::Parity:
      return List(kParityItems, ParityItem, StoreParityItem);
    case FieldCodec::StopBits:
      return List(kStopBitsItems, StopBitsItem, StoreStopBitsItem);
    case FieldCodec::DataBits:
      return List(kDataBitsItems, DataBitsItem, StoreDataBitsItem);
    case FieldCodec::PreScaler:
      return PreScalerCodec();
    case FieldCodec::SourceMode:
      return SourceModeCodec();
    case FieldCodec::Band:
      return BandCodec();
    case FieldCodec::Polarity:
      return PolarityCodec();
    case FieldCodec::AddressMode:
      return AddressModeCodec();
    default:
      return std::nullopt;
  }
}

// The edits: numbers, strings, texts, capcodes and the frequency.
std::optional<FieldTextCodec> EditCodec(const Field& field) {
  const int slot = field.slot;
  switch (field.codec) {
    case FieldCodec::Count:
      return Decimal(field.offset, 255);
    case FieldCodec::MessageDelay:
      return FieldTextCodec{[](const ConfigImage& image) -> std::optional<std::string> {
                              return std::to_string(MessageDelay(image));
                            },
                            StoreMessageDelay, ApplyStage::Value};
    case FieldCodec::OutOfRangeTimeout:
      return LockCodec(kOutOfRangeTimeoutTag);
    case FieldCodec::SequentialLock:
      return LockCodec(kSequentialLockTag);
    case FieldCodec::HeaderString:
      return PairStringCodec(CapcodeString::Header, slot);
    case FieldCodec::TrailerString:
      return PairStringCodec(CapcodeString::Trailer, slot);
    case FieldCodec::TimeoutString:
      return PairStringCodec(CapcodeString::Timeout, slot);
    case FieldCodec::FunctionCode:
      return FunctionCodeCodec(slot);
    case FieldCodec::Period:
      return PeriodCodec(slot);
    case FieldCodec::FunctionPassword:
      return TextCodec(
          [slot](const ConfigImage& image) { return FunctionPassword(image, slot + 1); },
          [slot](ConfigImage& image, std::string_view text) {
            return StoreFunctionPassword(image, slot + 1, text);
          });
    case FieldCodec::ReadPassword:
      return TextCodec(ReadPassword, StoreReadPassword);
    case FieldCodec::Prompt:
      return TextCodec([slot](const ConfigImage& image) { return PromptText(image, slot); },
                       [slot](ConfigImage& image, std::string_view text) {
                         return StorePrompt(image, slot, text);
                       });
    case FieldCodec::Frequency:
      return FieldTextCodec{StoredFrequencyMhz, StoreFrequencyMhz, ApplyStage::Value};
    case FieldCodec::CapcodeAddress:
      return CapcodeAddress(slot);
    default:
      return std::nullopt;
  }
}

std::optional<FieldTextCodec> CodecOf(const Field& field) {
  if (auto codec = BoxCodec(field)) return codec;
  return EditCodec(field);
}

}  // namespace

const FieldTextCodec* EditorCodec(const Field& field) {
  const std::vector<Field>& table = ConfigFields();
  static const std::vector<std::optional<FieldTextCodec>> codecs = [&table] {
    std::vector<std::optional<FieldTextCodec>> all;
    for (const Field& each : table) all.push_back(CodecOf(each));
    return all;
  }();
  const std::less<const Field*> before;
  if (before(&field, table.data()) || !before(&field, table.data() + table.size())) return nullptr;
  const auto index = static_cast<std::size_t>(&field - table.data());
  if (!codecs[index]) return nullptr;
  return &*codecs[index];
}

std::string UnescapeText(std::string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      const int high = HexDigit(text[i + 2]);
      const int low = HexDigit(text[i + 3]);
      if (high >= 0 && low >= 0) {
        bytes += static_cast<char>(high * 16 + low);
        i += 3;
        continue;
      }
    }
    bytes += text[i];
  }
  return bytes;
}

}  // namespace tuva
