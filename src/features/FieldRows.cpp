#include "features/FieldRows.h"

#include <algorithm>
#include <array>

#include "features/CapcodeStrings.h"
#include "features/FeatureLayout.h"
#include "features/FlagCodec.h"
#include "features/Periods.h"
#include "features/Prompts.h"
#include "features/Security.h"
#include "features/SerialOutput.h"
#include "image/CapcodeCodec.h"
#include "image/FrequencyCodec.h"

namespace tuva {
namespace {

using Display = std::function<std::string(const ConfigImage&)>;

std::string HexWord(std::uint32_t value, int digits) {
  std::string text;
  for (int i = digits - 1; i >= 0; --i) text += "0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
  return text;
}

std::string Ordinal(int zeroBased) {
  return std::to_string(zeroBased + 1);
}

// What a row declares about editing its field: the codec, the member of the codec's family and
// the unit of the value.
struct Editing {
  FieldCodec codec = FieldCodec::None;
  int slot = 0;
  std::string unit = {};
};

class Rows {
 public:
  void Add(std::string name, std::size_t offset, std::size_t width, FieldKind kind, Editing editing,
           std::string control, std::string label, Display display, std::uint8_t mask = 0xFF) {
    if (!editing.unit.empty()) label += " (" + editing.unit + ")";
    rows_.push_back(Field{std::move(name), offset, width, mask, kind, std::move(control),
                          std::move(label), editing.codec, editing.slot, std::move(editing.unit),
                          std::move(display)});
  }
  void Number(std::string name, std::size_t offset, Editing editing, std::string control,
              std::string label, FieldKind kind = FieldKind::Number) {
    Add(std::move(name), offset, 1, kind, std::move(editing), std::move(control), std::move(label),
        [offset](const ConfigImage& image) { return std::to_string(image.byte(offset)); });
  }
  void Count(std::string name, std::size_t offset, std::string control, std::string label) {
    Number(std::move(name), offset, {FieldCodec::Count}, std::move(control), std::move(label),
           FieldKind::Count);
  }
  void Plain(std::string name, std::size_t offset, Editing editing, std::string control,
             std::string label) {
    Add(std::move(name), offset, 1, FieldKind::PlainFlag, std::move(editing), std::move(control),
        std::move(label),
        [offset](const ConfigImage& image) { return OnOffText(ReadPlainFlag(image, offset)); });
  }
  void Inverted(std::string name, std::size_t offset, Editing editing, std::string control,
                std::string label) {
    Add(std::move(name), offset, 1, FieldKind::InvertedFlag, std::move(editing), std::move(control),
        std::move(label),
        [offset](const ConfigImage& image) { return OnOffText(ReadInvertedFlag(image, offset)); });
  }
  void Bit(std::string name, std::size_t offset, unsigned bit, Editing editing, std::string control,
           std::string label) {
    Add(
        std::move(name), offset, 1, FieldKind::Bit, std::move(editing), std::move(control),
        std::move(label),
        [offset, bit](const ConfigImage& image) {
          return OnOffText(image.GetBits(offset, bit, 1));
        },
        static_cast<std::uint8_t>(1u << bit));
  }
  std::vector<Field> Take() { return std::move(rows_); }

 private:
  std::vector<Field> rows_;
};

void AddSerialOutput(Rows& rows) {
  using namespace layout;
  rows.Add("serial.baud", kBaud, 1, FieldKind::BaudCode, {FieldCodec::Baud}, "ComboBox5",
           "UART baud rate", BaudText);
  rows.Inverted("serial.led", kSerialLed, {FieldCodec::InvertedFlag}, "CheckBox18",
                "Serial O/P Tarnhollow LED");
  rows.Add("serial.parity", kParity, 1, FieldKind::Parity, {FieldCodec::Parity}, "ComboBox2",
           "Parity", ParityText);
  rows.Add("serial.stop_bits", kStopBits, 1, FieldKind::Number, {FieldCodec::StopBits}, "ComboBox3",
           "Stop bits", [](const ConfigImage& image) {
             const auto item = StopBitsItem(image);
             return item ? std::string(kStopBitsItems[*item])
                         : UnknownByteText(image.byte(kStopBits));
           });
  rows.Add("serial.data_bits", kDataBits, 1, FieldKind::Number, {FieldCodec::DataBits}, "ComboBox4",
           "Data bits", [](const ConfigImage& image) {
             const auto item = DataBitsItem(image);
             return item ? std::string(kDataBitsItems[*item])
                         : UnknownByteText(image.byte(kDataBits));
           });
  rows.Bit("serial.time_update.bit", kTimeUpdateBitByte, kTimeUpdateBit, {FieldCodec::TimeUpdate},
           "CheckBox20", "Time update (parameter entry bit)");
  rows.Plain("serial.message_delay.in_use", kMessageDelayInUse, {FieldCodec::Bytes}, "",
             "Message time-out delay in use");
  static constexpr std::array<const char*, 5> kControlNames = {
      "serial.function_checksum", "serial.function_enable", "serial.function_filter_disable",
      "serial.insert_cr", "serial.insert_lf"};
  static constexpr std::array<const char*, 5> kControlLabels = {
      "Fun. Cmd. Checksum", "Fun. Cmd. Enable", "Fun. Cmd. Out Filter Disable",
      "Insert CR Before Detected LF", "Insert LF After Detected CR"};
  for (int tag = 0; tag < 5; ++tag) {
    rows.Plain(kControlNames[tag], ControlFlagOffset(tag), {FieldCodec::PlainFlag},
               "chkCtl" + std::to_string(tag), kControlLabels[tag]);
  }
  rows.Add("serial.message_delay", kMessageDelay, 2, FieldKind::MessageDelay,
           {FieldCodec::MessageDelay, 0, "seconds"}, "edtMDly", "Msg Time Out Delay",
           [](const ConfigImage& image) { return std::to_string(MessageDelay(image)); });
  rows.Plain("serial.enable", kSerialOutEnable, {FieldCodec::PlainFlag}, "chkCtl5",
             "Serial Out Enable");
  rows.Inverted("serial.time_update", kTimeUpdate, {FieldCodec::TimeUpdate}, "CheckBox20",
                "Time Update");
  rows.Inverted("serial.rts", kRtsEnable, {FieldCodec::InvertedFlag}, "CheckBox19", "RTS Enable");
  rows.Inverted("serial.time_update.copy", kTimeUpdateCopy, {FieldCodec::TimeUpdate}, "CheckBox20",
                "Time Update (second copy)");
}

void AddCapcodeStrings(Rows& rows) {
  static constexpr std::array<const char*, 3> kKindNames = {"header", "trailer", "timeout"};
  static constexpr std::array<const char*, 3> kEditNames = {"edtHeader", "edtTrailer",
                                                            "edtTimeout"};
  static constexpr std::array<const char*, 3> kLabels = {"Header Chars.", "Trailer Chars.",
                                                         "Timeout Chars."};
  static constexpr std::array<FieldCodec, 3> kCodecs = {
      FieldCodec::HeaderString, FieldCodec::TrailerString, FieldCodec::TimeoutString};
  for (int c = 0; c < layout::kCapcodeCount; ++c) {
    const std::string prefix = "capcode." + Ordinal(c) + ".";
    const std::string position = std::to_string(c % kCapcodesPerRange);
    for (std::size_t k = 0; k < kCapcodeStrings.size(); ++k) {
      const CapcodeString kind = kCapcodeStrings[k];
      const std::string control = kEditNames[k] + position;
      const std::string label = "Capcode #" + Ordinal(c) + " " + kLabels[k];
      rows.Count(prefix + kKindNames[k] + ".count", StringCountOffset(kind, c), control,
                 label + " count");
      rows.Add(prefix + kKindNames[k], StringBytesOffset(kind, c), layout::kStringCapacity,
               FieldKind::PairString, {kCodecs[k], c}, control, label,
               [kind, c](const ConfigImage& image) {
                 return PairListText(ReadCapcodeString(image, kind, c));
               });
    }
    rows.Plain(prefix + "internal_function_command", InternalFunctionCommandOffset(c),
               {FieldCodec::InternalFunctionCommand, c}, "chkOpCmd" + position,
               "Capcode #" + Ordinal(c) + " Int. Fun. Cmd.");
    rows.Add(prefix + "function_code", FunctionCodeOffset(c), layout::kFunctionCodeSize,
             FieldKind::FunctionCode, {FieldCodec::FunctionCode, c}, "edtFC" + position,
             "Capcode #" + Ordinal(c) + " function-command code",
             [c](const ConfigImage& image) { return PairListText(ReadFunctionCode(image, c)); });
  }
}

void AddOutputs(Rows& rows) {
  using namespace layout;
  rows.Inverted("outputs.receiving_output", kReceivingOutput, {FieldCodec::InvertedFlag}, "chkROE",
                "Power & Receiving Output Enable");
  rows.Inverted("outputs.out_of_range_output", kOutOfRangeOutput, {FieldCodec::InvertedFlag},
                "chkORC", "Out Of Range Output Enable");
  for (int i = 0; i < kOutputCount; ++i) {
    rows.Add("outputs." + Ordinal(i) + ".period", PeriodOffset(i), 1, FieldKind::Period,
             {FieldCodec::Period, i, "seconds"}, "edtPlsPer" + std::to_string(i),
             "Output " + Ordinal(i) + " Period",
             [i](const ConfigImage& image) { return PeriodText(image, i); });
  }
  rows.Add("outputs.pre_scaler", kPreScaler, 1, FieldKind::PreScaler, {FieldCodec::PreScaler},
           "cboScaler", "Pre-Scaler of Period", [](const ConfigImage& image) {
             const auto item = PreScalerItemOf(image);
             return item ? std::string(kPreScalerItems[*item].text)
                         : UnknownByteText(image.byte(kPreScaler));
           });
  for (int i = 0; i < kOutputCount; ++i) {
    const std::size_t offset = i == 8 ? kPowerUpOutput9 : kPowerUpOutputs;
    const unsigned bit = i == 8 ? kPowerUpOutput9Bit : static_cast<unsigned>(i);
    rows.Bit("outputs." + Ordinal(i) + ".power_up", offset, bit, {FieldCodec::PowerUpOutput, i},
             "chkOutput" + std::to_string(i), "Output " + Ordinal(i) + " on at power-up");
  }
  rows.Inverted("outputs.power_up_enable", kPowerUpEnable, {FieldCodec::InvertedFlag}, "chkPower",
                "Power Up Output");
  rows.Inverted("outputs.syn_output", kSynOutput, {FieldCodec::InvertedFlag}, "chkSyn",
                "SYN. Pin Output Enable");
}

void AddPromptsAndSecurity(Rows& rows) {
  using namespace layout;
  rows.Add("prompt.source_mode", kSourceMode, 1, FieldKind::SourceMode, {FieldCodec::SourceMode},
           "cboSource", "Prompt Control", [](const ConfigImage& image) {
             const auto item = SourceModeItem(image);
             return item ? std::string(kSourceModeItems[*item])
                         : UnknownByteText(image.byte(kSourceMode));
           });
  for (int i = 0; i < kPromptCount; ++i) {
    rows.Add("prompt." + Ordinal(i), PromptSlotOffset(i), kPromptSlotSize, FieldKind::PromptSlot,
             {FieldCodec::Prompt, i}, "edtPrompt" + std::to_string(i),
             "Source prompt of capcode #" + Ordinal(i),
             [i](const ConfigImage& image) { return EscapedText(PromptText(image, i)); });
  }
  rows.Number("security.out_of_range_timeout", kOutOfRangeTimeout,
              {FieldCodec::OutOfRangeTimeout, 0, "minutes"}, "edtORC", "Out Of Range Time Out");
  rows.Inverted("security.test_mode", kTestMode, {FieldCodec::InvertedFlag}, "CheckBox7",
                "Test Mode");
  rows.Number("security.sequential_lock", kSequentialLock,
              {FieldCodec::SequentialLock, 0, "seconds"}, "edtSLC", "Sequential Lock");
  for (int which = 1; which <= 2; ++which) {
    const std::string name = "security.function_password." + std::to_string(which);
    const std::string control = "edtOPW" + std::to_string(which);
    const std::size_t offset = FunctionPasswordOffset(which);
    rows.Count(name + ".count", offset, control,
               "Fun. Cmd. Password " + std::to_string(which) + " length");
    rows.Add(name, offset + 1, kPasswordMax, FieldKind::CountedText,
             {FieldCodec::FunctionPassword, which - 1}, control,
             "Fun. Cmd. Password " + std::to_string(which), [which](const ConfigImage& image) {
               return EscapedText(FunctionPassword(image, which));
             });
  }
  rows.Add("security.read_password", kReadPassword, kPasswordMax + 1, FieldKind::ZeroText,
           {FieldCodec::ReadPassword}, "edtReadPass", "Read Password",
           [](const ConfigImage& image) { return EscapedText(ReadPassword(image)); });
  rows.Inverted("security.fc_as_password", kFunctionCommandPassword, {FieldCodec::InvertedFlag},
                "chkFunPass", "FC as a Password");
}

void AddCapcodes(Rows& rows) {
  for (int i = 0; i < kCapcodeSlots; ++i) {
    const std::size_t offset = i < 8 ? kCapcodeEnableLow : kCapcodeEnableHigh;
    // The enable boxes are CheckBox1..CheckBox6 and CheckBox8..CheckBox17 (CheckBox7 is test mode).
    const std::string box = "CheckBox" + std::to_string(i < 6 ? i + 1 : i + 2);
    rows.Bit("capcode." + Ordinal(i) + ".enabled", offset, static_cast<unsigned>(i % 8),
             {FieldCodec::CapcodeEnable, i}, box, "Capcode #" + Ordinal(i) + " ON");
  }
  rows.Add("capcode.group_map", kCapcodeGroupMap, 2, FieldKind::GroupMap, {FieldCodec::Bytes}, "",
           "Capcode group map",
           [](const ConfigImage& image) { return HexWord(image.ReadBE(kCapcodeGroupMap, 2), 4); });
  for (int copy = 1; copy <= 7; ++copy) {
    const std::size_t offset = kCapcodeGroupMap + 4 * static_cast<std::size_t>(copy);
    rows.Add("capcode.group_map.copy." + std::to_string(copy), offset, 2, FieldKind::GroupMap,
             {FieldCodec::Bytes}, "", "Capcode group map (copy)",
             [offset](const ConfigImage& image) { return HexWord(image.ReadBE(offset, 2), 4); });
  }
  for (int i = 0; i < kCapcodeSlots; ++i) {
    rows.Add("capcode." + Ordinal(i) + ".address", kCapcodeRecordBase + 4 * i + 1, 3,
             FieldKind::CapcodeRecord, {FieldCodec::CapcodeAddress, i}, "Edit" + Ordinal(i),
             "Capcode #" + Ordinal(i), [i](const ConfigImage& image) {
               const CapcodeSlotView view = DecodeCapcodes(image).slots[i];
               if (!view.refilled) return "second word of the long capcode #" + Ordinal(i - 1);
               if (!view.textRefilled) {
                 return "long word " + HexWord(ReadCapcodeRecord(image, i).word, 6);
               }
               return view.text;
             });
  }
  rows.Add("capcode.address_mode", kAddressModeOffset, 1, FieldKind::AddressMode,
           {FieldCodec::AddressMode}, "cboSrtLng", "Short/Long address mode",
           [](const ConfigImage& image) {
             const auto mode = StoredAddressMode(image);
             if (!mode) return UnknownByteText(image.byte(kAddressModeOffset));
             return std::string(*mode == AddressMode::Long ? "Long" : "Short");
           });
}

void AddFrequency(Rows& rows) {
  rows.Add("pll.band", kBandOffset, 1, FieldKind::Band, {FieldCodec::Band}, "cboDft", "Band",
           [](const ConfigImage& image) {
             const std::uint8_t band = image.byte(kBandOffset);
             return band < kBands.size() ? std::string(kBands[band].text) : UnknownByteText(band);
           });
  rows.Add("pll.r", kPllrOffset, 3, FieldKind::PllWord, {FieldCodec::PllReference}, "lblPLLR",
           "PLLR reference divider", [](const ConfigImage& image) {
             PllState state;
             SelectStoredBand(image, state);
             const PllReadout readout = RefreshPll(image, state);
             return readout.pllr + " (" + readout.channel + ")";
           });
  rows.Add("pll.constant", kPllrOffset + 3, 1, FieldKind::PllWord, {FieldCodec::PllReference}, "",
           "PLL constant (0x11)",
           [](const ConfigImage& image) { return HexByte(image.byte(kPllrOffset + 3)); });
  rows.Add("pll.n", kPllnOffset, 4, FieldKind::PllWord, {FieldCodec::Frequency}, "edtFreq",
           "PLLN and the receive frequency", [](const ConfigImage& image) {
             const std::string plln = HexWord(ReadPlln(image), 8);
             const auto mhz = StoredFrequencyMhz(image);
             return mhz ? plln + " (" + *mhz + " MHz)" : plln + " (no channel step)";
           });
  rows.Add("receiver.polarity", kPolarityOffset, 1, FieldKind::Polarity, {FieldCodec::Polarity},
           "cboPolarity", "Receiver polarity", [](const ConfigImage& image) {
             return std::string(kPolarityItems[static_cast<int>(ReadPolarity(image))]);
           });
}

void AddImageFrame(Rows& rows) {
  rows.Add("version", layout::kVersionText, layout::kVersionTextSize, FieldKind::ZeroText,
           {FieldCodec::Bytes}, "", "Configuration version text", [](const ConfigImage& image) {
             const auto text =
                 image.bytes().subspan(layout::kVersionText, layout::kVersionTextSize);
             return EscapedText(std::span(text.begin(), std::find(text.begin(), text.end(), 0)));
           });
  rows.Add("image.sum", kSumOffset, 2, FieldKind::ImageSum, {FieldCodec::Bytes}, "", "Image sum",
           [](const ConfigImage& image) { return HexWord(image.ReadBE(kSumOffset, 2), 4); });
  rows.Add("image.check", kSumOffset + 2, 4, FieldKind::CheckBytes, {FieldCodec::Bytes}, "",
           "Check bytes", [](const ConfigImage& image) {
             return HexWord(image.ReadBE(kSumOffset + 2, 2), 4) + " " +
                    HexWord(image.ReadBE(kSumOffset + 4, 2), 4);
           });
}

}  // namespace

std::string EscapedText(std::string_view text) {
  return EscapedText(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string EscapedText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += static_cast<char>(byte);
    } else {
      text += "\\x" + HexByte(byte);
    }
  }
  return text;
}

std::vector<Field> BuildNamedFields() {
  Rows rows;
  AddSerialOutput(rows);
  AddCapcodeStrings(rows);
  AddOutputs(rows);
  AddPromptsAndSecurity(rows);
  AddCapcodes(rows);
  AddFrequency(rows);
  AddImageFrame(rows);
  return rows.Take();
}

}  // namespace tuva
