// Frequency and PLL: the receive band, the synthesiser words and the receiver polarity.
//
//   byte 11       band index 0..4, the item of the band list cboDft
//   bytes 12..14  PLLR, the reference divider, 24 bits big-endian
//   byte 15       0x11, written with the band's defaults
//   bytes 16..19  PLLN, the channel number times 128, 32 bits big-endian
//   byte 50       receiver polarity: 0 Invert, 3 Normal (any other nonzero value reads Normal)
//
// The synthesiser's 12.8 MHz reference, divided by 4 x PLLR and multiplied by MULT, gives the
// channel step, MULT x 12800000 div (4 x PLLR) Hz; the receiver listens 21.4 MHz (the IF) above
// (PLLN div 128) x step. The frequency edit works in units of 100 Hz. MULT depends only on the
// band and is kept beside the image together with the step (PllState).
//
// Images from a board or a file can hold what no band produces:
//  - PLLR 0 (or a PLLR so large that the step rounds to 0 Hz): there is no channel step. The
//    readouts still show PLLR, PLLN and MULT, the channel readout and the frequency edit show
//    "---", and a typed frequency is refused until a band is chosen (which writes its defaults).
//  - a band byte above 4: no band is selected, MULT keeps the value it had (the PLL readouts go
//    on using it), and a typed frequency is refused until a band is chosen, because the limits
//    come from the selected band. A MULT that was never set (0) shows as "---" and gives no step.
//  - a frequency text with a point ("462.0125"): refused with kFrequencyNotWholeMessage, which
//    says how to write it; any other non-digit text gets kFrequencyNotNumericMessage.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/ConfigImage.h"

namespace tuva {

inline constexpr std::size_t kBandOffset = 11;
inline constexpr std::size_t kPllrOffset = 12;
inline constexpr std::size_t kPllnOffset = 16;
inline constexpr std::size_t kPolarityOffset = 50;

inline constexpr std::uint32_t kIntermediateFrequencyHz = 21400000;

struct Band {
  std::string_view text;  // item of cboDft
  std::uint8_t mult;
  std::array<std::uint8_t, 8> defaults;  // bytes 12..19
};

inline constexpr int kBandCount = 5;
inline constexpr std::array<Band, kBandCount> kBands = {{
    {"130-180MHz(5K)", 2, {0x00, 0x05, 0x00, 0x11, 0x00, 0x35, 0xC0, 0x00}},
    {"130-180MHz(6.25K)", 2, {0x00, 0x04, 0x00, 0x11, 0x00, 0x2B, 0x01, 0x00}},
    {"278-290MHz(6.25K)", 3, {0x00, 0x04, 0x00, 0x11, 0x00, 0x35, 0x76, 0x00}},
    {"400-499MHz(12.5K)", 3, {0x00, 0x03, 0x00, 0x11, 0x00, 0x44, 0xD8, 0x00}},
    {"929-932MHz(12.5k)", 5, {0x00, 0x05, 0x00, 0x11, 0x00, 0x8E, 0x20, 0x80}},
}};

// Limits of a band in 100 Hz units, read from its item text: the first three characters and the
// three from the fifth on, in MHz. "400-499MHz(12.5K)" gives 4000000..4990000.
struct BandLimits {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};
std::optional<BandLimits> ReadBandLimits(std::string_view bandText);

// The values kept beside the image.
struct PllState {
  std::optional<int> band;        // the selected band item; nullopt when byte 11 names none
  std::uint8_t mult = 0;          // 0 until a band has been selected once
  std::uint32_t channelStep = 0;  // Hz; 0 when there is none (PLLR 0, MULT unset)
};

// The first step of the window's refill: select the band named by byte 11 and take its MULT. A
// band byte above 4 selects nothing and keeps MULT.
void SelectStoredBand(const ConfigImage& image, PllState& state);

// Choosing a band: byte 11, MULT, and the band's defaults into bytes 12..19 (the frequency goes
// back to the band's default). The caller refreshes the readouts afterwards. A band outside 0..4 is
// a programming error and throws std::out_of_range.
void ApplyBand(ConfigImage& image, PllState& state, int band);

std::uint32_t ReadPllr(const ConfigImage& image);
std::uint32_t ReadPlln(const ConfigImage& image);

// MULT x 12800000 div (4 x PLLR); 0 when PLLR or MULT is 0.
std::uint32_t ChannelStep(std::uint8_t mult, std::uint32_t pllr);

// "12.5KHz", "6.25KHz", "9.375KHz", "5KHz"; "---" for no step.
std::string ChannelText(std::uint32_t stepHz);

// The frequency in 100 Hz units: ((PLLN div 128) x step + 21400000) div 100. Computed without
// wrapping round 32 bits, so a nonsense PLLN shows as the large number it means.
std::uint64_t FrequencyOf(std::uint32_t plln, std::uint32_t stepHz);

// The readout panel and the frequency edit.
struct PllReadout {
  std::string pllr;       // lblPLLR: six uppercase hexadecimal digits
  std::string plln;       // lblPLLN: eight uppercase hexadecimal digits
  std::string mult;       // lblMULT: decimal, "---" when never set
  std::string channel;    // lblCHANNEL
  std::string frequency;  // edtFreq: decimal without padding, "---" when there is no step
};

// Computes the readouts and stores the channel step in `state`.
PllReadout RefreshPll(const ConfigImage& image, PllState& state);

// The image's receive frequency in MHz to the 100 Hz of the raster ("462.0125"), as its stored
// band and PLL words give it; nullopt when they give no channel step.
std::optional<std::string> StoredFrequencyMhz(const ConfigImage& image);

// Messages of the frequency edit; all are shown in a box captioned "Vantel" with an exclamation
// icon.
inline constexpr std::string_view kFrequencyCaption = "Vantel";
inline constexpr std::string_view kFrequencyNotNumericMessage = "Please insert a numeric !";
inline constexpr std::string_view kFrequencyNotWholeMessage =
    "Please insert the frequency as a whole number of 100Hz steps, without a point "
    "(for example 4620125 for 462.0125MHz) !";
inline constexpr std::string_view kChannelSpacingMessage = "Channel Spacing Error!";
inline constexpr std::string_view kNoBandMessage =
    "No band is selected: please choose a band before setting the frequency !";
inline constexpr std::string_view kNoChannelStepMessage =
    "The PLL reference divider gives no channel spacing: please choose a band before setting "
    "the frequency !";
inline constexpr std::string_view kPllRangeMessage =
    "This frequency does not fit the PLL words with the present channel spacing: please choose a "
    "band before setting the frequency !";

// "Frequency setting error( 4000000 < = Frequency < = 4990000 )" for "400-499MHz(12.5K)".
std::string FrequencyRangeMessage(std::string_view bandText);

enum class FrequencyStatus {
  Empty,    // nothing typed: refresh, the stored frequency comes back
  Stored,   // PLLN and PLLR written: refresh
  Refused,  // `message` shown, focus back on the edit, image and typed text unchanged
};
struct FrequencyResult {
  FrequencyStatus status = FrequencyStatus::Empty;
  std::string message;
};

// The exit of the frequency edit: checks the typed text against the selected band and the channel
// step of the last refresh, and writes PLLN and PLLR when it lies on the raster.
FrequencyResult ApplyFrequencyText(ConfigImage& image, const PllState& state,
                                   std::string_view text);

// Receiver polarity, the items of cboPolarity in order.
enum class Polarity { Invert = 0, Normal = 1 };
inline constexpr std::array<std::string_view, 2> kPolarityItems = {"Invert", "Normal"};
Polarity ReadPolarity(const ConfigImage& image);
void WritePolarity(ConfigImage& image, Polarity polarity);

}  // namespace tuva
