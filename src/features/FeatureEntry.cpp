#include "features/FeatureEntry.h"

#include <climits>

namespace tuva {

std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (LLONG_MAX - 9) / 10) {
      value = LLONG_MAX;  // saturate: still a number, and out of every range
    } else {
      value = value * 10 + (c - '0');
    }
  }
  return negative ? -value : value;
}

EntryResult CheckWholeNumber(std::string_view text, long long maximum, long long& value) {
  const auto number = ParseWholeNumber(TrimSpaces(text));
  if (!number) return EntryResult::Plain(kNotNumericMessage);
  if (*number < 0 || *number > maximum) {
    return EntryResult::Warning("Please insert a number between 0 and " + std::to_string(maximum) +
                                " !");
  }
  value = *number;
  return EntryResult::Stored();
}

std::string HexByte(unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

std::string UnknownByteText(unsigned value) {
  return "? (0x" + HexByte(value) + ")";
}

}  // namespace tuva
