#include "series/SeriesImage.h"

#include <algorithm>
#include <set>
#include <utility>

#include "features/FieldTable.h"
#include "features/FieldValues.h"
#include "image/CapcodeCodec.h"
#include "image/Utf8.h"
#include "link/NetworkPort.h"

namespace tuva::series {
namespace {

// The first capcode of the numbers between the short and the long ones that no word stores.
constexpr std::uint32_t kFirstUnstoredCapcode = 2031615;

const Field& CapcodeField(int slot) {
  return *FindField("capcode." + std::to_string(slot) + ".address");
}

// The capcode a slot hands out to board `k` (0-based) of the run.
std::uint64_t CapcodeOfBoard(const CountingCapcode& counting, std::uint64_t k) {
  return std::uint64_t{counting.first} + k * counting.step;
}

// A capcode that both slots hand out within `count` boards, if any: FIRST_A + STEP_A * k equals
// FIRST_B + STEP_B * j with k and j in 0..count-1.
std::optional<std::uint64_t> SharedCapcode(const CountingCapcode& a, const CountingCapcode& b,
                                           int count) {
  using Wide = __int128;
  const Wide sa = a.step;
  const Wide sb = b.step;
  const Wide difference = Wide{b.first} - Wide{a.first};
  // Extended Euclid on the steps: sa * x + sb * y = g.
  Wide oldR = sa, r = sb, oldX = 1, x = 0;
  while (r != 0) {
    const Wide q = oldR / r;
    oldR = std::exchange(r, oldR - q * r);
    oldX = std::exchange(x, oldX - q * x);
  }
  const Wide g = oldR;
  if (difference % g != 0) return std::nullopt;
  // Board indices k of slot a whose capcode slot b hands out too: k = k0 + period * m.
  const Wide period = sb / g;
  Wide k = (difference / g % period) * (oldX % period) % period;
  if (k < 0) k += period;
  // Slot b's index is (FIRST_A + STEP_A * k - FIRST_B) / STEP_B; it must not be negative.
  if (difference > 0) {
    const Wide least = (difference + sa - 1) / sa;
    if (k < least) k += (least - k + period - 1) / period * period;
  }
  const Wide j = (Wide{a.first} + sa * k - Wide{b.first}) / sb;
  if (k >= count || j >= count) return std::nullopt;
  return static_cast<std::uint64_t>(Wide{a.first} + sa * k);
}

// The slot's own faults: its number, its step, the template's enable bit and every capcode it
// hands out, first to last, one that the slot's editor takes and the board can store.
std::optional<PlanRefusal> CheckSlot(const SeriesPlan& plan, const CountingCapcode& counting,
                                     std::string_view templateName, std::set<int>& seen) {
  const std::string slot = std::to_string(counting.slot);
  const std::string name = "capcode slot " + slot;
  const auto refuse = [&counting](std::string message, PlanInput input = PlanInput::First) {
    return PlanRefusal{input, counting.slot, std::move(message)};
  };
  if (counting.slot < 1 || counting.slot > kCapcodeSlots)
    return refuse(name + " is outside 1 to 16");
  if (!seen.insert(counting.slot).second) return refuse(name + " is given twice");
  if (counting.step == 0) return refuse(name + ": the step must be 1 or more", PlanInput::Step);
  if (!CapcodeEnabled(plan.templateImage, counting.slot - 1)) {
    const std::string file(templateName);
    return refuse(name + " is disabled in " + file + ": enable it with `tuvactl set " + file +
                  " capcode." + slot + ".enabled=on`, or count another slot");
  }
  const std::uint64_t last = CapcodeOfBoard(counting, static_cast<std::uint64_t>(plan.count) - 1);
  std::vector<std::uint64_t> checked = {counting.first, last};
  // A long capcode run may pass over the numbers the board has no word for.
  if (counting.first < kFirstUnstoredCapcode && last > kFirstUnstoredCapcode) {
    const std::uint64_t k =
        (kFirstUnstoredCapcode - counting.first + counting.step - 1) / counting.step;
    checked.push_back(CapcodeOfBoard(counting, k));
  }
  for (const std::uint64_t capcode : checked) {
    if (capcode > UINT32_MAX) {
      return refuse(name + ": capcode " + std::to_string(capcode) + " of the run is out of range");
    }
    ConfigImage trial = plan.templateImage;
    if (auto refused = SetCapcodes(trial, {{counting.slot, static_cast<std::uint32_t>(capcode)}})) {
      if (capcode == counting.first) return refuse(name + ": " + *refused);
      return refuse(name + ": capcode " + std::to_string(capcode) + " of board " +
                    std::to_string((capcode - counting.first) / counting.step + 1) + ": " +
                    *refused);
    }
  }
  return std::nullopt;
}

// A capcode that a counting slot hands out within the run and the list gives too: (slot, message).
std::optional<std::pair<int, std::string>> CountedFromList(const SeriesPlan& plan) {
  for (const ListCapcode& given : ListCapcodes(*plan.list, plan.templateImage)) {
    for (const auto& counting : plan.counting) {
      if (counting.step == 0 || given.capcode < counting.first) continue;
      const std::uint64_t k = (given.capcode - counting.first) / counting.step;
      if ((given.capcode - counting.first) % counting.step != 0 ||
          k >= static_cast<std::uint64_t>(plan.count)) {
        continue;
      }
      return std::pair{counting.slot, "capcode slot " + std::to_string(counting.slot) +
                                          " would hand out capcode " +
                                          std::to_string(given.capcode) + ", which line " +
                                          std::to_string(given.line) + " of the list " +
                                          ValidUtf8(plan.list->path) + " gives too"};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<CountingCapcode> ParseCounting(std::string_view text) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const auto colon = text.find(':', equals);
  const auto slot = ParseCapcode(text.substr(0, equals));
  const auto first = ParseCapcode(text.substr(equals + 1, colon - equals - 1));
  const auto step = colon == std::string_view::npos ? std::optional<std::uint32_t>(1)
                                                    : ParseCapcode(text.substr(colon + 1));
  // A slot number too large for an int is refused here, the rest by CheckPlan.
  if (!slot || !first || !step || *slot > 1000) return std::nullopt;
  return CountingCapcode{static_cast<int>(*slot), *first, *step};
}

std::uint32_t SlotMaximum(const ConfigImage& image, int slot) {
  return CapcodeMaximum(slot - 1, StoredAddressMode(image) == AddressMode::Long);
}

std::optional<PlanRefusal> CheckPlan(const SeriesPlan& plan, std::string_view templateName) {
  auto refuse = [](PlanInput input, int index, std::string message) {
    return PlanRefusal{input, index, std::move(message)};
  };
  std::vector<int> counted;
  for (const auto& counting : plan.counting) counted.push_back(counting.slot);
  if (plan.list) {
    if (auto fault = CheckCapcodeList(*plan.list, plan.templateImage, templateName, counted)) {
      return refuse(PlanInput::List, 0, *fault);
    }
    if (auto fault = CountedFromList(plan))
      return refuse(PlanInput::First, fault->first, fault->second);
  }
  if (plan.count < 1) return refuse(PlanInput::Count, 0, "the count must be 1 or more");
  if (auto fault = CheckKept(plan.keep, counted)) return refuse(PlanInput::Keep, 0, *fault);
  if (plan.list) {
    for (const Field* field : KeptFields(plan.keep)) {
      const auto& header = plan.list->header;
      if (std::find(header.begin(), header.end(), field->name) != header.end()) {
        return refuse(PlanInput::List, 0,
                      field->name +
                          " comes from the list and is kept from the board too: keep fewer "
                          "fields or take it out of the list");
      }
    }
  }
  // Each board needs a capcode of its own in an enabled slot: a counting slot (checked enabled
  // below), a capcode column of the list (each row's slot checked enabled with the row applied,
  // by CheckCapcodeList), or the board's own capcodes kept (checked board by board as it is read).
  if (plan.counting.empty() && !KeepsACapcode(KeptFields(plan.keep)) &&
      (!plan.list || ListSlots(*plan.list).empty())) {
    if (!plan.list) {
      return refuse(PlanInput::First, 0, "no capcode slot counts up: give one its first capcode");
    }
    return refuse(PlanInput::First, 0,
                  "no capcode slot counts up and the list " + ValidUtf8(plan.list->path) +
                      " gives none: each board needs a capcode of its own (count a slot, add a "
                      "capcode.N.address column, or keep the board's capcodes)");
  }
  std::set<int> seen;
  for (const auto& counting : plan.counting) {
    if (auto fault = CheckSlot(plan, counting, templateName, seen)) return fault;
  }
  for (std::size_t i = 0; i < plan.counting.size(); ++i) {
    for (std::size_t j = i + 1; j < plan.counting.size(); ++j) {
      const auto& a = plan.counting[i];
      const auto& b = plan.counting[j];
      if (const auto shared = SharedCapcode(a, b, plan.count)) {
        return refuse(PlanInput::First, b.slot,
                      "capcode slots " + std::to_string(a.slot) + " and " + std::to_string(b.slot) +
                          " would both hand out capcode " + std::to_string(*shared));
      }
    }
  }
  for (std::size_t i = 0; i < plan.ports.size(); ++i) {
    if (auto problem = PortNameProblem(plan.ports[i])) {
      return refuse(PlanInput::Ports, static_cast<int>(i), *problem);
    }
  }
  if (plan.firmware) {
    if (auto refused = FirmwareRefusal(*plan.firmware)) {
      return refuse(PlanInput::Firmware, 0, *refused);
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
