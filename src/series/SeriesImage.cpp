#include "series/SeriesImage.h"

#include <set>

#include "features/FieldTable.h"
#include "features/FieldValues.h"
#include "image/CapcodeCodec.h"

namespace tuva::series {
namespace {

const Field& CapcodeField(int slot) {
  return *FindField("capcode." + std::to_string(slot) + ".address");
}

}  // namespace

std::uint32_t SlotMaximum(const ConfigImage& image, int slot) {
  return CapcodeMaximum(slot - 1, StoredAddressMode(image) == AddressMode::Long);
}

std::optional<std::string> CheckPlan(const SeriesPlan& plan) {
  if (plan.count < 1) return "the count must be 1 or more";
  if (plan.counting.empty()) return "no --capcode SLOT=FIRST given";
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
  for (const auto& [slot, capcode] : capcodes) {
    const EntryResult set = SetFieldText(image, CapcodeField(slot), std::to_string(capcode));
    if (!set.ok) return set.message;
    // The editor takes 2031615..2101248 but the board has no word for them, so nothing is written
    // and the board would keep the template's capcode.
    if (!set.stored) {
      return "capcode " + std::to_string(capcode) + " has no form the board can store";
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
