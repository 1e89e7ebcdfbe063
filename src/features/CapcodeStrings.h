// The per-capcode strings of the board's serial output: header, trailer and timeout characters
// (up to 30 bytes each, entered as hexadecimal pairs "0D;0A"), the "Int. Fun. Cmd." flag and the
// four-byte function-command code. Sixteen capcodes share four sets of editors; a capcode range
// (0..3) says which four capcodes the editors show.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "features/FeatureEntry.h"
#include "image/ConfigImage.h"

namespace tuva {

enum class CapcodeString { Header, Trailer, Timeout };
inline constexpr std::array<CapcodeString, 3> kCapcodeStrings = {
    CapcodeString::Header, CapcodeString::Trailer, CapcodeString::Timeout};

// Offsets of the count byte and of the 30-byte area of capcode c (0..15).
std::size_t StringCountOffset(CapcodeString kind, int capcode);
std::size_t StringBytesOffset(CapcodeString kind, int capcode);
std::size_t FunctionCodeOffset(int capcode);
std::size_t InternalFunctionCommandOffset(int capcode);

// The valid bytes of a string; a count above 30 (an erased board holds 0xFF) yields 30 bytes.
std::vector<std::uint8_t> ReadCapcodeString(const ConfigImage& image, CapcodeString kind,
                                            int capcode);
std::array<std::uint8_t, 4> ReadFunctionCode(const ConfigImage& image, int capcode);
bool InternalFunctionCommand(const ConfigImage& image, int capcode);
void SetInternalFunctionCommand(ConfigImage& image, int capcode, bool on);

// Reads the pairs of a header, trailer or timeout edit. The text is split at ';' and empty items
// are dropped; each item is trimmed of spaces; the first blank item ends the string, so pairs
// after a blank pair are ignored. A pair with one digit stands for that digit (" 7" or "7 " is
// 0x07). Refused: an item that is not one or two hexadecimal digits, or more than `capacity`
// filled pairs before the first blank one.
struct PairParse {
  EntryResult result;
  std::vector<std::uint8_t> bytes;
};
PairParse ParsePairString(std::string_view text, std::size_t capacity = 30);

// Reads the four pairs of a function-command edit; a blank or missing pair is 0x00.
struct CodeParse {
  EntryResult result;
  std::array<std::uint8_t, 4> bytes{};
};
CodeParse ParseFunctionCode(std::string_view text);

// "41;42" — the bytes as upper-case pairs, separated by ';'.
std::string PairListText(std::span<const std::uint8_t> bytes);
// The masked edit's text: `pairs` fields of two characters separated by ';', the bytes from the
// start, the remaining fields blank ("41;42;  ;  ..."; 89 characters for 30 pairs).
std::string MaskedPairText(std::span<const std::uint8_t> bytes, std::size_t pairs);

// Stores a string from its edit's text: the bytes at the area, the number of bytes at the count
// byte. Bytes beyond the new count keep their old values.
EntryResult StoreCapcodeString(ConfigImage& image, CapcodeString kind, int capcode,
                               std::string_view text);
EntryResult StoreFunctionCode(ConfigImage& image, int capcode, std::string_view text);

// The editors of one capcode (one group box grpCap1..grpCap4), as texts of masked edits.
struct CapcodeStringEdits {
  std::string header;
  std::string trailer;
  std::string timeout;
  std::string functionCode;
  bool internalFunctionCommand = false;
};
CapcodeStringEdits ShowCapcodeEdits(const ConfigImage& image, int capcode);
// Collects one capcode's editors into the image. All five are checked before any byte is
// written, so a refused edit leaves the capcode's bytes as they were.
EntryResult CollectCapcodeEdits(ConfigImage& image, int capcode, const CapcodeStringEdits& edits);

// The capcode ranges of ComboBox1 ("Select Range") and the captions of the group boxes.
inline constexpr int kCapcodeRangeCount = 4;
inline constexpr int kCapcodesPerRange = 4;
inline constexpr std::array<std::string_view, 4> kCapcodeRangeItems = {
    "Capcode #01 - #04", "Capcode #05 - #08", "Capcode #09 - #12", "Capcode #13 - #16"};
// Capcode index (0..15) shown at `position` (0..3, grpCap1..grpCap4) of `range`.
int CapcodeInRange(int range, int position);
// "Capcode #9 ( Hex Only )" for range 2, position 0.
std::string CapcodeGroupCaption(int range, int position);

inline constexpr std::string_view kInternalFunctionCommandCaption = "Int. Fun. Cmd.";

// Key filter of the pair edits: the character in upper case when it is a hexadecimal digit,
// nullopt when it is discarded.
std::optional<char> FilterHexKey(char key);

}  // namespace tuva
