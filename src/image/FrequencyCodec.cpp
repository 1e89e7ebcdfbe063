#include "image/FrequencyCodec.h"

#include <cstdio>
#include <limits>
#include <stdexcept>

namespace tuva {
namespace {

constexpr std::uint32_t kReferenceHz = 12800000;  // the synthesiser's reference oscillator
constexpr std::uint32_t kPllrMaximum = 0xFFFFFF;  // PLLR is a 24-bit word
constexpr std::uint8_t kPolarityNormal = 3;

// Three decimal digits of a band text, from `from` on; nullopt when they are not digits.
std::optional<std::uint32_t> ThreeDigits(std::string_view text, std::size_t from) {
  if (text.size() < from + 3) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = from; i < from + 3; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  return value;
}

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

FrequencyResult Refused(std::string_view message) {
  return {FrequencyStatus::Refused, std::string(message)};
}

// The typed text as a number, or the message that refuses it. The key filter of the edit lets
// digits and the point through; a paste can bring anything.
std::optional<std::uint64_t> ParseFrequency(std::string_view text, std::string& message) {
  bool point = false;
  bool other = false;
  bool digit = false;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c == '.') {
      point = true;
    } else if (c < '0' || c > '9') {
      other = true;
    } else {
      digit = true;
      // Far above every band: stop growing there, so a long paste never wraps round.
      if (value < 100000000000ull) value = value * 10 + static_cast<unsigned>(c - '0');
    }
  }
  if (other || !digit) {
    message = kFrequencyNotNumericMessage;
    return std::nullopt;
  }
  if (point) {
    message = kFrequencyNotWholeMessage;
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<BandLimits> ReadBandLimits(std::string_view bandText) {
  const auto low = ThreeDigits(bandText, 0);
  const auto high = ThreeDigits(bandText, 4);
  if (!low || !high) return std::nullopt;
  return BandLimits{*low * 10000, *high * 10000};
}

std::string FrequencyRangeMessage(std::string_view bandText) {
  const std::string_view low = bandText.substr(0, 3);
  const std::string_view high = bandText.size() > 4 ? bandText.substr(4, 3) : std::string_view();
  return "Frequency setting error( " + std::string(low) +
         "0000 < = Frequency < = " + std::string(high) + "0000 )";
}

void SelectStoredBand(const ConfigImage& image, PllState& state) {
  const unsigned band = image.byte(kBandOffset);
  if (band < kBands.size()) {
    state.band = static_cast<int>(band);
    state.mult = kBands[band].mult;
  } else {
    state.band.reset();
  }
}

void ApplyBand(ConfigImage& image, PllState& state, int band) {
  if (band < 0 || band >= kBandCount) throw std::out_of_range("band " + std::to_string(band));
  const Band& chosen = kBands[static_cast<std::size_t>(band)];
  image.setByte(kBandOffset, static_cast<std::uint8_t>(band));
  for (std::size_t i = 0; i < chosen.defaults.size(); ++i) {
    image.setByte(kPllrOffset + i, chosen.defaults[i]);
  }
  state.band = band;
  state.mult = chosen.mult;
}

std::uint32_t ReadPllr(const ConfigImage& image) {
  return image.ReadBE(kPllrOffset, 3);
}
std::uint32_t ReadPlln(const ConfigImage& image) {
  return image.ReadBE(kPllnOffset, 4);
}

std::uint32_t ChannelStep(std::uint8_t mult, std::uint32_t pllr) {
  if (pllr == 0) return 0;
  // MULT is a byte and PLLR 24 bits, so neither product leaves 32 bits; 64 bits keeps it obvious.
  return static_cast<std::uint32_t>(std::uint64_t{mult} * kReferenceHz / (4 * std::uint64_t{pllr}));
}

std::string ChannelText(std::uint32_t stepHz) {
  if (stepHz == 0) return "---";
  std::string text = std::to_string(stepHz / 1000);
  unsigned fraction = stepHz % 1000;
  if (fraction != 0) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%03u", fraction);
    std::string decimals(digits);
    while (decimals.back() == '0') decimals.pop_back();
    text += "." + decimals;
  }
  return text + "KHz";
}

std::uint64_t FrequencyOf(std::uint32_t plln, std::uint32_t stepHz) {
  return (std::uint64_t{plln / 128} * stepHz + kIntermediateFrequencyHz) / 100;
}

PllReadout RefreshPll(const ConfigImage& image, PllState& state) {
  const std::uint32_t pllr = ReadPllr(image);
  const std::uint32_t plln = ReadPlln(image);
  state.channelStep = ChannelStep(state.mult, pllr);
  PllReadout readout;
  readout.pllr = Hex(pllr, 6);
  readout.plln = Hex(plln, 8);
  readout.mult = state.mult == 0 ? "---" : std::to_string(state.mult);
  readout.channel = ChannelText(state.channelStep);
  readout.frequency =
      state.channelStep == 0 ? "---" : std::to_string(FrequencyOf(plln, state.channelStep));
  return readout;
}

std::optional<std::string> StoredFrequencyMhz(const ConfigImage& image) {
  PllState state;
  SelectStoredBand(image, state);
  RefreshPll(image, state);
  if (state.channelStep == 0) return std::nullopt;
  const std::uint64_t units = FrequencyOf(ReadPlln(image), state.channelStep);
  std::string fraction = std::to_string(units % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  return std::to_string(units / 10000) + "." + fraction;
}

FrequencyResult ApplyFrequencyText(ConfigImage& image, const PllState& state,
                                   std::string_view text) {
  if (text.empty()) return {};
  if (!state.band) return Refused(kNoBandMessage);
  if (state.channelStep == 0) return Refused(kNoChannelStepMessage);

  std::string message;
  const auto frequency = ParseFrequency(text, message);
  if (!frequency) return Refused(message);

  const std::string_view bandText = kBands[static_cast<std::size_t>(*state.band)].text;
  const auto limits = ReadBandLimits(bandText);
  const std::int64_t offsetHz =
      static_cast<std::int64_t>(*frequency) * 100 - std::int64_t{kIntermediateFrequencyHz};
  if (!limits || *frequency < limits->low || *frequency > limits->high || offsetHz < 0) {
    return Refused(FrequencyRangeMessage(bandText));
  }
  const std::uint64_t offset = static_cast<std::uint64_t>(offsetHz);
  const std::uint32_t step = state.channelStep;
  if (offset % step != 0) return Refused(kChannelSpacingMessage);

  // A step of a few Hz (from a strange PLLR) could make the words overflow; refuse, write nothing.
  const std::uint64_t plln = offset / step * 128;
  const std::uint64_t pllr = std::uint64_t{state.mult} * kReferenceHz / step / 4;
  if (plln > std::numeric_limits<std::uint32_t>::max() || pllr > kPllrMaximum) {
    return Refused(kPllRangeMessage);
  }
  image.WriteBE(kPllnOffset, 4, static_cast<std::uint32_t>(plln));
  image.WriteBE(kPllrOffset, 3, static_cast<std::uint32_t>(pllr));
  return {FrequencyStatus::Stored, {}};
}

Polarity ReadPolarity(const ConfigImage& image) {
  return image.byte(kPolarityOffset) == 0 ? Polarity::Invert : Polarity::Normal;
}

void WritePolarity(ConfigImage& image, Polarity polarity) {
  image.setByte(kPolarityOffset, polarity == Polarity::Invert ? 0 : kPolarityNormal);
}

}  // namespace tuva
