// Output pulse periods and their common pre-scaler, and the special outputs that take over an
// output pin.
//
// A period byte counts units of the pre-scaler; the pre-scaler byte at 0x1F5 is the length of one
// unit in tenths of a second (1, 10, 50, 100, 200 or 250). A period in seconds is
// byte x factor / 10, at most 255 units.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "features/FeatureEntry.h"
#include "image/ConfigImage.h"

namespace tuva {

struct PreScalerItem {
  std::string_view text;  // item of cboScaler
  std::uint8_t factor;    // tenths of a second per unit, the byte at 0x1F5
};
inline constexpr std::array<PreScalerItem, 6> kPreScalerItems = {{{"0.1 sec", 1},
                                                                  {"1 sec", 10},
                                                                  {"5 sec", 50},
                                                                  {"10 sec", 100},
                                                                  {"20 sec", 200},
                                                                  {"25 sec", 250}}};

// The item of a pre-scaler factor; nullopt for a byte that is none of the six (0x00 or 0xFF from
// an erased board).
std::optional<int> PreScalerItemForFactor(std::uint8_t factor);
std::optional<int> PreScalerItemOf(const ConfigImage& image);
// Caption of lblScaler for an item: "Max.=25.5 sec", "Max.=6375 sec".
std::string PreScalerLabel(int item);

// Tenths of a second as the period edits show them: no trailing zeros, no point when whole
// (10 -> "1", 12 -> "1.2", 63750 -> "6375").
std::string TenthsText(unsigned tenths);
// The period of output `index` (0..8) in seconds, from the image's pre-scaler byte.
std::string PeriodText(const ConfigImage& image, int index);
std::size_t PeriodOffset(int index);

// Applies a pre-scaler item: stores its factor and rescales the nine period bytes so that their
// time stays as near as the new unit allows (p x old / new, truncated, at most 255). The old
// factor is the byte held before, even when it is no valid factor. Returns the new factor, which
// the period editor then uses as its current factor.
std::uint8_t ApplyPreScaler(ConfigImage& image, int item);

// Stores a period typed in seconds for output `index` (0..8), converted with `currentFactor`
// (the factor last applied): seconds x 10 / factor, truncated. An empty text stores nothing.
// Refused: text that is not a decimal number (two points, a lone point), and a period above
// factor x 25.5 ("Please insert a number between 0 and 25.5").
EntryResult StorePeriod(ConfigImage& image, int index, std::string_view text,
                        std::uint8_t currentFactor);

// Key filter of the period edits and of the read password: digits, the point and Backspace.
bool DecimalKeyAllowed(char key);

// The special outputs and the ordinary output each one takes over (hints of their boxes).
struct SpecialOutput {
  std::string_view control;
  std::size_t offset;  // inverted flag
  std::string_view hint;
};
extern const std::array<SpecialOutput, 3> kSpecialOutputs;

}  // namespace tuva
