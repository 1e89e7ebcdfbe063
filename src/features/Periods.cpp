#include "features/Periods.h"

#include <algorithm>
#include <stdexcept>

#include "features/FeatureLayout.h"

namespace tuva {

const std::array<SpecialOutput, 3> kSpecialOutputs = {{
    {"chkROE", layout::kReceivingOutput,
     "If \"Power & Receiving Output\" is enabled then Output 7 will be unavailable"},
    {"chkORC", layout::kOutOfRangeOutput,
     "If \"Out Of Range Output\" is enabled then Output 8 will be unavailable"},
    {"chkSyn", layout::kSynOutput,
     "If \"SYN. Pin Output\" is enabled then Output 6 will be unavailable"},
}};

std::optional<int> PreScalerItemForFactor(std::uint8_t factor) {
  for (std::size_t i = 0; i < kPreScalerItems.size(); ++i) {
    if (kPreScalerItems[i].factor == factor) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<int> PreScalerItemOf(const ConfigImage& image) {
  return PreScalerItemForFactor(image.byte(layout::kPreScaler));
}

namespace {

const PreScalerItem& ItemAt(int item) {
  if (item < 0 || static_cast<std::size_t>(item) >= kPreScalerItems.size()) {
    throw std::out_of_range("pre-scaler item " + std::to_string(item));
  }
  return kPreScalerItems[static_cast<std::size_t>(item)];
}

// A period text read as a decimal number: whole part and fraction digits.
struct Decimal {
  unsigned long long whole = 0;
  std::string fraction;  // digits after the point, possibly empty
  bool huge = false;     // more whole digits than any period has
};

std::optional<Decimal> ParseDecimal(std::string_view text) {
  Decimal number;
  bool point = false;
  bool digits = false;
  for (char c : text) {
    if (c == '.') {
      if (point) return std::nullopt;  // two points
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (point) {
        number.fraction += c;
      } else if (number.whole > 1'000'000) {
        number.huge = true;
      } else {
        number.whole = number.whole * 10 + static_cast<unsigned>(c - '0');
      }
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;  // empty after all, or a lone point
  return number;
}

// True when the number exceeds `maxTenths` tenths of a second.
bool Exceeds(const Decimal& number, unsigned maxTenths) {
  if (number.huge || number.whole > maxTenths / 10) return true;
  if (number.whole < maxTenths / 10) return false;
  const unsigned firstDigit = number.fraction.empty() ? 0 : number.fraction[0] - '0';
  if (firstDigit != maxTenths % 10) return firstDigit > maxTenths % 10;
  return number.fraction.find_first_not_of('0', 1) != std::string::npos;
}

}  // namespace

std::string PreScalerLabel(int item) {
  return "Max.=" + TenthsText(ItemAt(item).factor * 255u) + " sec";
}

std::string TenthsText(unsigned tenths) {
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) {
    text += '.';
    text += std::to_string(tenths % 10);
  }
  return text;
}

std::size_t PeriodOffset(int index) {
  if (index < 0 || index >= layout::kOutputCount) {
    throw std::out_of_range("output index " + std::to_string(index));
  }
  return layout::kPeriods + static_cast<std::size_t>(index);
}

std::string PeriodText(const ConfigImage& image, int index) {
  return TenthsText(static_cast<unsigned>(image.byte(PeriodOffset(index))) *
                    image.byte(layout::kPreScaler));
}

std::uint8_t ApplyPreScaler(ConfigImage& image, int item) {
  const unsigned oldFactor = image.byte(layout::kPreScaler);
  const std::uint8_t newFactor = ItemAt(item).factor;
  image.setByte(layout::kPreScaler, newFactor);
  for (int i = 0; i < layout::kOutputCount; ++i) {
    const unsigned scaled = image.byte(PeriodOffset(i)) * oldFactor / newFactor;
    image.setByte(PeriodOffset(i), static_cast<std::uint8_t>(std::min(scaled, 255u)));
  }
  return newFactor;
}

EntryResult StorePeriod(ConfigImage& image, int index, std::string_view text,
                        std::uint8_t currentFactor) {
  const std::size_t offset = PeriodOffset(index);
  if (text.empty()) return EntryResult::Unchanged();
  if (currentFactor == 0) throw std::invalid_argument("pre-scaler factor 0");
  const auto number = ParseDecimal(TrimSpaces(text));
  if (!number) return EntryResult::Plain(kNotNumericMessage);
  const unsigned maxTenths = currentFactor * 255u;
  if (Exceeds(*number, maxTenths)) {
    return EntryResult::Warning("Please insert a number between 0 and " + TenthsText(maxTenths));
  }
  // seconds x 10 / factor: the digits after the first decimal only add less than one tenth,
  // which the truncation drops anyway.
  const unsigned firstDigit = number->fraction.empty() ? 0 : number->fraction[0] - '0';
  const auto tenths = static_cast<unsigned>(number->whole * 10 + firstDigit);
  image.setByte(offset, static_cast<std::uint8_t>(tenths / currentFactor));
  return EntryResult::Stored();
}

bool DecimalKeyAllowed(char key) {
  return (key >= '0' && key <= '9') || key == '.' || key == '\b';
}

}  // namespace tuva
