#include "features/FieldValues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "features/CapcodeEntry.h"
#include "features/CapcodeStrings.h"
#include "features/Periods.h"
#include "features/Prompts.h"
#include "features/SerialOutput.h"
#include "image/CapcodeCodec.h"
#include "image/FrequencyCodec.h"

namespace tuva {
namespace {

using Changes = std::vector<std::pair<std::string, std::string>>;

const Field& F(std::string_view name) {
  const Field* field = FindField(name);
  if (!field) throw std::invalid_argument(std::string(name));
  return *field;
}

// A value the field's editor takes, drawn at random; empty for the fields that follow others
// (counts, group map, PLL reference, in-use byte) and for a hidden capcode 2.
class RandomEntries {
 public:
  explicit RandomEntries(unsigned seed) : random_(seed) {}

  std::string For(const ConfigImage& image, const Field& field) {
    const std::string& name = field.name;
    switch (field.kind) {
      case FieldKind::PlainFlag:
      case FieldKind::InvertedFlag:
      case FieldKind::Bit:
        if (field.control.empty()) return {};
        if (name == "capcode.2.enabled" && CapcodeLongMode(image)) return {};
        return Pick<std::string_view>({"on", "off"});
      case FieldKind::BaudCode:
        return Item(kBaudItems);
      case FieldKind::Parity:
        return Item(kParityItems);
      case FieldKind::Number:
        if (name == "serial.stop_bits") return Item(kStopBitsItems);
        if (name == "serial.data_bits") return Item(kDataBitsItems);
        return std::to_string(Below(256));
      case FieldKind::MessageDelay:
        return std::to_string(Below(65001));
      case FieldKind::PairString:
        return Pairs(Below(31));
      case FieldKind::FunctionCode:
        return Pairs(4);
      case FieldKind::Period: {
        const auto item = PreScalerItemOf(image);
        return item ? TenthsText(Below(256) * kPreScalerItems[*item].factor) : std::string();
      }
      case FieldKind::PreScaler:
        return std::string(kPreScalerItems[Below(kPreScalerItems.size())].text);
      case FieldKind::CountedText:
        return Escaped(Text(Below(11), ' ', '~'));
      case FieldKind::ZeroText:
        if (field.control.empty()) return Bytes(field.width, 0xFF);
        return Text(Below(11), '.', '9', "/");
      case FieldKind::PromptSlot:
        return std::string(Below(16), ' ') + Escaped(Text(Below(19), '!', '~'));
      case FieldKind::SourceMode:
        return Item(kSourceModeItems);
      case FieldKind::Band:
        return std::string(kBands[Below(kBandCount)].text);
      case FieldKind::PllWord:
        return name == "pll.n" ? Frequency(image) : std::string();
      case FieldKind::Polarity:
        return Item(kPolarityItems);
      case FieldKind::AddressMode:
        return Pick<std::string_view>({"Short", "Long"});
      case FieldKind::CapcodeRecord:
        return Capcode(image, std::stoi(name.substr(8)) - 1);
      case FieldKind::Raw:
        return Bytes(field.width, field.mask);
      default:
        return {};
    }
  }

  std::mt19937& engine() { return random_; }

 private:
  unsigned Below(std::size_t n) {
    return std::uniform_int_distribution<unsigned>(0, static_cast<unsigned>(n - 1))(random_);
  }
  template <typename T>
  std::string Pick(std::initializer_list<T> items) {
    return std::string(items.begin()[Below(items.size())]);
  }
  template <std::size_t N>
  std::string Item(const std::array<std::string_view, N>& items) {
    return std::string(items[Below(N)]);
  }
  std::string Text(std::size_t length, char low, char high, std::string_view except = {}) {
    std::string text;
    while (text.size() < length) {
      const char c = static_cast<char>(low + Below(static_cast<std::size_t>(high - low + 1)));
      if (except.find(c) == std::string_view::npos) text += c;
    }
    return text;
  }
  static std::string Escaped(const std::string& text) {
    std::string escaped;
    for (char c : text) escaped += c == '\\' ? std::string("\\x5C") : std::string(1, c);
    return escaped;
  }
  std::string Pairs(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) text += ';';
      text += HexByte(Below(256));
    }
    return text;
  }
  std::string Bytes(std::size_t count, unsigned mask) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) text += ' ';
      text += HexByte(Below(256) & mask);
    }
    return text;
  }
  std::string Capcode(const ConfigImage& image, int slot) {
    const bool longMode = CapcodeLongMode(image);
    if (slot == 1 && longMode) return {};
    if (slot == 0 && longMode && Below(2)) {
      return std::to_string(
          std::uniform_int_distribution<std::uint32_t>(2101249, 4291000000u)(random_));
    }
    return std::to_string(std::uniform_int_distribution<std::uint32_t>(0, 2031614)(random_));
  }
  std::string Frequency(const ConfigImage& image) {
    PllState state;
    SelectStoredBand(image, state);
    RefreshPll(image, state);
    const auto limits = ReadBandLimits(kBands[static_cast<std::size_t>(*state.band)].text);
    const std::uint64_t low = std::uint64_t{limits->low} * 100 - kIntermediateFrequencyHz;
    const std::uint64_t high = std::uint64_t{limits->high} * 100 - kIntermediateFrequencyHz;
    for (;;) {
      const std::uint64_t channels = (high - low) / state.channelStep;
      const std::uint64_t hz =
          kIntermediateFrequencyHz + low + state.channelStep - low % state.channelStep +
          std::uniform_int_distribution<std::uint64_t>(0, channels - 2)(random_) *
              state.channelStep;
      if (hz % 100 != 0) continue;
      const std::uint64_t units = hz / 100;
      std::string fraction = std::to_string(units % 10000);
      return std::to_string(units / 10000) + "." + std::string(4 - fraction.size(), '0') + fraction;
    }
  }

  std::mt19937 random_;
};

// An image as a technician leaves it: every field entered once, in a random order, through the
// setters.
ConfigImage RandomValidImage(RandomEntries& entries) {
  ConfigImage image = ConfigImage::StartupImage();
  std::vector<const Field*> fields = SettableFields();
  std::shuffle(fields.begin(), fields.end(), entries.engine());
  for (const Field* field : fields) {
    const std::string text = entries.For(image, *field);
    if (text.empty()) continue;
    const EntryResult result = SetFieldText(image, *field, text);
    EXPECT_TRUE(result.ok) << field->name << "=" << text << ": " << result.message;
  }
  return image;
}

void ExpectExportAppliesBack(const ConfigImage& image) {
  ConfigImage applied = ConfigImage::StartupImage();
  const Changes exported = ExportFieldTexts(image);
  const auto refusal = ApplyFieldTexts(applied, exported);
  ASSERT_FALSE(refusal) << refusal->field << ": " << refusal->result.message;
  for (const Field* field : DiffImages(applied, image)) {
    if (field->kind == FieldKind::ImageSum || field->kind == FieldKind::CheckBytes) continue;
    ADD_FAILURE() << field->name << ": exported " << GetFieldText(image, *field) << ", applied "
                  << field->Hex(applied) << " for " << field->Hex(image);
  }
}

TEST(FieldValues, SetTakesTheEditorsTextsAndRefusesWithTheirMessages) {
  struct Case {
    std::string_view field;
    std::string_view text;
    std::string_view message;  // empty: accepted, and the getter gives the text back
  };
  const Case cases[] = {
      {"capcode.4.address", "1500000", ""},
      {"capcode.1.enabled", "off", ""},
      {"capcode.1.enabled", "yes", "Please write \"on\" or \"off\" !"},
      {"pll.n", "462.0125", ""},
      {"pll.n", "462.01251", "Channel Spacing Error!"},
      {"pll.n", "462.0130", "Channel Spacing Error!"},
      {"pll.n", "500", "Frequency setting error( 4000000 < = Frequency < = 4990000 )"},
      {"pll.n", "4.6.2", "Please insert a numeric !"},
      {"serial.baud", "19200", ""},
      {"serial.baud", "1200",
       "Please choose one of \"2400\", \"4800\", \"9600\", \"19200\", \"38400\" !"},
      {"outputs.2.period", "25.5", ""},
      {"prompt.3", "  A\\x5CB", ""},
      {"capcode.2.header", "0D;0A", ""},
      {"raw.0x01A", "01 1F 24 09 5A 96", ""},
      {"raw.0x01A", "01 1F",
       "Please write 6 bytes as hexadecimal pairs separated by spaces, such as \"01 1F 24 09 5A "
       "96\" !"},
      {"capcode.group_map", "01 00", ""},
      {"image.sum", "00 00", "image.sum is not settable: Save and Write seal the image"},
  };
  for (const Case& c : cases) {
    ConfigImage image = ConfigImage::StartupImage();
    const ConfigImage before = image;
    const EntryResult result = SetFieldText(image, F(c.field), c.text);
    EXPECT_EQ(result.message, c.message) << c.field << "=" << c.text;
    if (c.message.empty()) {
      EXPECT_EQ(GetFieldText(image, F(c.field)), c.text) << c.field;
    } else {
      EXPECT_TRUE(image == before) << c.field << "=" << c.text;
    }
  }
}

TEST(FieldValues, AWordPairNamingNoCapcodeIsCarriedAsBytes) {
  ConfigImage image = ConfigImage::StartupImage();
  WriteCapcodeRecord(image, 5, {0x1F2409, true});
  WriteCapcodeRecord(image, 6, {0x000001, false});
  ASSERT_EQ(F("capcode.6.address").Text(image), "invalid");
  EXPECT_EQ(GetFieldText(image, F("capcode.6.address")), "bytes:5F 24 09");
  ConfigImage applied = ConfigImage::StartupImage();
  EXPECT_FALSE(ApplyFieldTexts(applied, {{"capcode.6.address", "bytes:5F 24 09"}}));
  EXPECT_EQ(ReadCapcodeRecord(applied, 5), ReadCapcodeRecord(image, 5));
}

TEST(FieldValues, ApplySetsAllOrNoneInTheOrderTheFieldsDependOn) {
  ConfigImage image = ConfigImage::StartupImage();
  // The long capcode is checked under the mode given after it.
  ASSERT_FALSE(ApplyFieldTexts(
      image,
      {{"capcode.1.address", "2101249"}, {"capcode.address_mode", "Long"}, {"pll.n", "462.0125"}}));
  EXPECT_EQ(GetFieldText(image, F("capcode.1.address")), "0002101249");
  EXPECT_EQ(SetFieldText(image, F("capcode.2.address"), "5").message,
            "Capcode #2 is hidden in Long address mode: choose Short to set it");
  const ConfigImage before = image;
  const auto refused = ApplyFieldTexts(image, {{"serial.baud", "2400"}, {"capcode.3.adress", "1"}});
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->field, "capcode.3.adress");
  EXPECT_EQ(refused->result.message,
            "unknown field capcode.3.adress (did you mean capcode.3.address, capcode.1.address, "
            "capcode.2.address?)");
  EXPECT_TRUE(image == before);
  const auto wrong = ApplyFieldTexts(image, {{"serial.baud", "2400"}, {"pll.n", "470.0063"}});
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->field, "pll.n");
  EXPECT_TRUE(image == before);
}

#ifdef TUVA_SANITIZED
constexpr int kRandomImages = 400;  // the sanitized build is there for memory faults, not breadth
#else
constexpr int kRandomImages = 2000;
#endif

TEST(FieldValues, ExportAppliedToTheStartupImageGivesTheImageAndEveryGetSetsBackUnchanged) {
  RandomEntries entries(20261207);
  for (int round = 0; round < kRandomImages; ++round) {
    const ConfigImage image = RandomValidImage(entries);
    ExpectExportAppliesBack(image);
    if (round % 4 != 0) continue;  // get then set of every field, on every fourth image
    for (const Field* field : SettableFields()) {
      ConfigImage again = image;
      const std::string text = GetFieldText(image, *field);
      const EntryResult result = SetFieldText(again, *field, text);
      EXPECT_TRUE(result.ok && again == image)
          << field->name << "=" << text << " " << result.message;
    }
    if (HasFailure()) return;
  }
}

TEST(FieldValues, ExportOfAnyBytesAppliesBack) {
  std::mt19937 random(4100);
  for (int round = 0; round < 300; ++round) {
    ConfigImage image;
    for (std::size_t i = 0; i < kImageSize; ++i)
      image.setByte(i, static_cast<std::uint8_t>(random()));
    ExpectExportAppliesBack(image);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace tuva
