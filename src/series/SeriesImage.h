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

// Checks a plan against its template before anything is sent: a count above 0, slots 1..16 each
// named once, steps above 0, each first capcode accepted by the slot's editor in the template's
// address mode. Returns the message for the first fault; nullopt when the plan is good.
std::optional<std::string> CheckPlan(const SeriesPlan& plan);

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
