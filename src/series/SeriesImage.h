// The configuration of each board of a series: the template with the counting capcodes set
// through the same setters as the window's editors, so a capcode the window would refuse is
// refused here too, with the window's message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/ConfigImage.h"
#include "series/SeriesRun.h"

namespace tuva::series {

// A counting slot as typed: "SLOT=FIRST" or "SLOT=FIRST:STEP" in decimal (the step is 1 when not
// given). nullopt when the text is not of that shape; the numbers are checked by CheckPlan.
std::optional<CountingCapcode> ParseCounting(std::string_view text);

// Which input of a plan a refusal concerns, so a window can give that field the focus: a counting
// slot's first capcode (anything about the capcodes it hands out) or its step, the template, ...
enum class PlanInput { Template, First, Step, Count, Ports, Keep, Firmware, List };

struct PlanRefusal {
  PlanInput input = PlanInput::Template;
  int index = 0;        // First, Step: the slot 1..16 (0: none); Ports: the index in plan.ports
  std::string message;  // one line, shown as it is by tuvactl (exit 2) and the window
};

// Everything that can be refused before the first board is touched: a count above 0, slots 1..16
// each named once, steps above 0, every capcode the run hands out (first to last) one the board
// can store in the template's address mode, each counting slot enabled in the template, no
// capcode handed out by two slots, every port name accepted by the port-name check, the kept
// fields (CheckKept; kept capcodes stand in for counting ones), a capcode of its own for every
// board in an enabled slot (counted, from the list or kept), a firmware file (when given)
// that passed the firmware file checks and identifies as FLEX. The first
// fault found; nullopt when the plan is good. `templateName` names the template in messages.
std::optional<PlanRefusal> CheckPlan(const SeriesPlan& plan, std::string_view templateName);

// The largest capcode slot `slot` (1..16) takes in the image's address mode.
std::uint32_t SlotMaximum(const ConfigImage& image, int slot);

// Sets (slot, capcode) pairs; the editor's message for the first refused one, or a message for
// one the editor accepts but the board cannot store (the image is then partly set and must not
// be written).
std::optional<std::string> SetCapcodes(ConfigImage& image,
                                       const std::vector<std::pair<int, std::uint32_t>>& capcodes);

// The capcode of every slot 1..16 as the window shows it, and the receive frequency in MHz.
std::vector<std::string> CapcodeTexts(const ConfigImage& image);
std::string FrequencyText(const ConfigImage& image);

}  // namespace tuva::series
