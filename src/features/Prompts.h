// Source prompts: for each capcode a line of at most 18 characters after up to 15 leading
// spaces, which the board shows for messages of that capcode, and the prompt source mode.
//
// Slot i (capcode i + 1) is 20 bytes at 0x863 + 20 i:
//   byte 0     low nibble: leading-space count 0..15; the high nibble belongs to the firmware
//   byte 1     length of the text, 0..18
//   bytes 2..  the text; bytes past the length keep whatever they held
// More than 15 leading spaces are stored as spaces at the start of the text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "features/FeatureEntry.h"
#include "image/ConfigImage.h"

namespace tuva {

inline constexpr int kPromptCount = 16;
// The prompt edits hold 21 characters; alignment works on that line.
inline constexpr std::size_t kPromptLineWidth = 21;
inline constexpr std::string_view kPromptCaption = "KX40B_OTA";
inline constexpr std::string_view kPromptTooLongMessage =
    "Can not exceed 18 characters exclude left space!";

std::size_t PromptSlotOffset(int index);

// The prompt as its edit shows it: the leading spaces, then the text. A length byte above 18
// (an erased board holds 0xFF) shows 18 characters; nothing outside the slot is read.
std::string PromptText(const ConfigImage& image, int index);

// Stores a prompt as typed. Refused when more than 18 characters follow the leading spaces
// (trailing spaces count), and when the spaces beyond 15 would push the stored text past 18.
EntryResult StorePrompt(ConfigImage& image, int index, std::string_view text);

// Alignment of a prompt's text on the 21-character line (the text trimmed of spaces first).
std::string AlignPromptLeft(std::string_view text);
std::string AlignPromptCenter(std::string_view text);
std::string AlignPromptRight(std::string_view text);

// The prompt that "Auto Cap." makes of a capcode edit's text: "<" + capcode + ">", centred.
std::string AutoCapPrompt(std::string_view capcodeText);

// cboSource "Prompt Control" at 0x85E.
inline constexpr std::array<std::string_view, 3> kSourceModeItems = {"Disable", "Backward",
                                                                     "Auto Cap."};
inline constexpr int kSourceDisable = 0;
inline constexpr int kSourceAutoCap = 2;
// The item of the mode byte; nullopt for a byte above 2.
std::optional<int> SourceModeItem(const ConfigImage& image);
void StoreSourceMode(ConfigImage& image, int item);
// The prompt edits are enabled in every mode but "Disable".
constexpr bool PromptsEnabled(int item) {
  return item != kSourceDisable;
}

inline constexpr std::string_view kAutoCapQuestionCaption = "Warning";
inline constexpr std::string_view kAutoCapQuestion =
    "The setting will load capcodes as prompts ! \nAre you sure load capcodes ?";

}  // namespace tuva
