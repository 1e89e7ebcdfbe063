#include "series/SeriesImage.h"

#include <charconv>
#include <set>

#include "features/FieldTable.h"
#include "features/FieldValues.h"
#include "image/CapcodeCodec.h"

namespace tuva::series {
namespace {

const Field& CapcodeField(int slot) {
  return *FindField("capcode." + std::to_string(slot) + ".address");
}

bool ParseNumber(std::string_view text, std::uint32_t& value) {
  const auto* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end && !text.empty();
}

}  // namespace

std::optional<CountingCapcode> ParseCounting(std::string_view text) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const auto colon = text.find(':', equals);
  std::uint32_t slot = 0;
  CountingCapcode counting;
  const bool good =
      ParseNumber(text.substr(0, equals), slot) &&
      ParseNumber(text.substr(equals + 1, colon - equals - 1), counting.first) &&
      (colon == std::string_view::npos || ParseNumber(text.substr(colon + 1), counting.step));
  // A slot number too large for an int is refused here, the rest by CheckPlan.
  if (!good || slot > 1000) return std::nullopt;
  counting.slot = static_cast<int>(slot);
  return counting;
}

std::uint32_t SlotMaximum(const ConfigImage& image, int slot) {
  return CapcodeMaximum(slot - 1, StoredAddressMode(image) == AddressMode::Long);
}

std::optional<std::string> CheckPlan(const SeriesPlan& plan) {
  if (plan.count < 1) return "the count must be 1 or more";
  if (plan.counting.empty()) return "no capcode slot counts up: give one its first capcode";
  std::set<int> seen;
  for (const auto& counting : plan.counting) {
    const std::string name = "capcode slot " + std::to_string(counting.slot);
    if (counting.slot < 1 || counting.slot > kCapcodeSlots) return name + " is outside 1 to 16";
    if (!seen.insert(counting.slot).second) return name + " is given twice";
    if (counting.step == 0) return name + ": the step must be 1 or more";
    ConfigImage trial = plan.templateImage;
    if (auto refused = SetCapcodes(trial, {{counting.slot, counting.first}})) {
      return name + ": " + *refused;
    }
  }
  return std::nullopt;
}

std::optional<std::string> SetCapcodes(ConfigImage& image,
                                       const std::vector<std::pair<int, std::uint32_t>>& capcodes) {
  // The same check as set and apply: 2031615..2101248 pass the editor but have no word on the
  // board, so the board would keep the template's capcode; they are refused.
  for (const auto& [slot, capcode] : capcodes) {
    if (auto refused =
            ApplyFieldTexts(image, {{CapcodeField(slot).name, std::to_string(capcode)}})) {
      return refused->result.message;
    }
  }
  return std::nullopt;
}

std::vector<std::string> CapcodeTexts(const ConfigImage& image) {
  std::vector<std::string> texts;
  for (int slot = 1; slot <= kCapcodeSlots; ++slot) {
    texts.push_back(GetFieldText(image, CapcodeField(slot)));
  }
  return texts;
}

std::string FrequencyText(const ConfigImage& image) {
  return GetFieldText(image, *FindField("pll.n"));
}

}  // namespace tuva::series
