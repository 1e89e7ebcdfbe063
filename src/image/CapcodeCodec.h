// Capcodes: the sixteen FLEX addresses the board answers to, kept as 21-bit address words in the
// capcode records of the image, with their enable bits, the Short/Long address mode and the capcode
// group map.
//
// Record i (i = 0..15) is the parameter entry at 160 + 4i: the id byte 0x80 + i (never written),
// then three bytes b1 b2 b3. Bit 6 of b1 marks a word of a long address pair; bits 4..0 of b1 are
// bits 20..16 of the word; b2 and b3 are bits 15..0. Bits 7 and 5 of b1 are written as 0 and
// ignored on reading. A short address takes one record; a long address takes records i and i + 1.
// Only capcode slot 0 holds a long address in practice (the window offers ten digits there in
// Long mode), but the codec works for any slot that has a next record.
//
// Slot and record numbers outside 0..15 are programming errors and throw std::out_of_range; user
// input never throws (typed text goes through CheckCapcodeText or EncodeCapcodeText).
//
// Enable bits: byte 99 bit i for slots 0..7, byte 98 bit i - 8 for slots 8..15.
// Address mode: byte 2106, the item of the Short/Long selector (0 Short, 1 Long).
// Group map: bytes 130..131 big-endian, bit k set when an enabled capcode has group k, that is
// (value >> 4) & 15 = k; the firmware keeps seven copies of it, at 134, 138, ..., 158.
//
// What an edit shows for records that hold no capcode the codec could have written:
//  - a short word below 32768 (the decimal value would wrap round to ten digits),
//  - a long pair whose words fit none of the three long-address forms, or whose words are not
//    exactly the ones that the number they decode to is stored as (re-encoding the shown number
//    would silently rewrite the board's words),
//  - a long word in slot 15, which has no next record to pair with,
// all show kUndecodableCapcodeText, "invalid". A technician sees at once that the board holds
// something this programmer cannot name, rather than a blank (which reads as "no capcode") or a
// number that is not what the board listens to. The text is not a number, so re-encoding from the
// edit writes nothing and the board's words stay as they are until a capcode is typed, and the
// group map leaves the slot out. It is seven characters, so it fits every capcode edit.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/ConfigImage.h"

namespace tuva {

inline constexpr int kCapcodeSlots = 16;

// Image offsets.
inline constexpr std::size_t kCapcodeRecordBase = 160;  // record i at 160 + 4i, id byte first
inline constexpr std::size_t kCapcodeEnableLow = 99;    // slots 0..7
inline constexpr std::size_t kCapcodeEnableHigh = 98;   // slots 8..15
inline constexpr std::size_t kCapcodeGroupMap = 130;    // 130..131, copies every 4 bytes to 158
inline constexpr std::size_t kAddressModeOffset = 2106;

// Largest capcode an edit accepts: slot 0 in Long mode, and every other case.
inline constexpr std::uint32_t kLongCapcodeMaximum = 4291000000u;
inline constexpr std::uint32_t kShortCapcodeMaximum = 2031615u;

inline constexpr std::string_view kUndecodableCapcodeText = "invalid";
inline constexpr std::string_view kCapcodeNotNumericMessage = "Please insert a numeric!";
inline constexpr std::string_view kCapcodeRangeMessagePrefix =
    "Please insert a number between 0000007 to ";

enum class AddressMode { Short = 0, Long = 1 };

// One capcode record as stored: the 21-bit word and its long flag.
struct CapcodeRecord {
  std::uint32_t word = 0;
  bool longWord = false;
  friend bool operator==(const CapcodeRecord&, const CapcodeRecord&) = default;
};

CapcodeRecord ReadCapcodeRecord(const ConfigImage& image, int record);
// Writes b1..b3 of a record; the word is masked to 21 bits.
void WriteCapcodeRecord(ConfigImage& image, int record, CapcodeRecord value);

// What a capcode becomes on the board.
enum class CapcodeForm {
  NotStored,  // 2031615..2101248, above 4291000000, or long with no next record: nothing written
  Short,      // one short word
  LongPair,   // two long words, in this record and the next
};

// The records a capcode is stored as, without touching an image. For a short capcode only
// `first` is meaningful.
struct CapcodeWords {
  CapcodeForm form = CapcodeForm::NotStored;
  CapcodeRecord first;
  CapcodeRecord second;
};
CapcodeWords CapcodeToWords(std::uint32_t capcode);

// Stores a capcode in slot `slot` (and, for a long address, in slot + 1). In slot 0 with the
// window in Long mode, the enable bit of slot 1 follows: a short word clears it, a long pair
// copies slot 0's enable bit into it (the hidden second record must answer with the first).
// Returns what was written; NotStored leaves the image untouched.
CapcodeForm EncodeCapcode(ConfigImage& image, int slot, std::uint32_t capcode, bool longMode);

// The same from an edit's text: a text that is not a plain decimal number fitting 32 bits (empty,
// "invalid", pasted letters) writes nothing.
CapcodeForm EncodeCapcodeText(ConfigImage& image, int slot, std::string_view text, bool longMode);

// Decodes a long pair (the first and the next record); nullopt when the words are not exactly
// those EncodeCapcode writes for the number they decode to. The long flags are not looked at: the
// caller found the flag of the first record, and the second word alone tells the three forms apart.
std::optional<std::uint32_t> DecodeLongPair(CapcodeRecord first, CapcodeRecord second);

// What the refill of the capcode panel puts into slot i's edit and enable box.
struct CapcodeSlotView {
  bool refilled = true;      // false: the slot after a long pair; neither edit nor box changes
  bool enabled = false;      // the enable box (when refilled)
  bool textRefilled = true;  // false also for slot 1 holding a long word: its edit keeps its text
  std::string text;          // "%07lu", "%010lu" for a long pair, or "invalid"
  bool longPair = false;     // this slot starts a long pair: select Long and hide slot i + 1
  std::optional<std::uint32_t> value;  // the capcode shown; nullopt for "invalid"
};

struct CapcodeRefill {
  std::array<CapcodeSlotView, kCapcodeSlots> slots;
  bool longPairFound = false;  // the window selects "Long" in the Short/Long selector
};

// The refill of all sixteen slots, in order, skipping the slot after each long pair.
CapcodeRefill DecodeCapcodes(const ConfigImage& image);

bool CapcodeEnabled(const ConfigImage& image, int slot);
void SetCapcodeEnabled(ConfigImage& image, int slot, bool enabled);

// Byte 2106: nullopt when it names neither item.
std::optional<AddressMode> StoredAddressMode(const ConfigImage& image);
void SetStoredAddressMode(ConfigImage& image, AddressMode mode);

// Rebuilds the group map from the capcodes the edits show: bytes 130..131 and their seven copies.
// Slots whose edit holds no number (blank, "invalid") add no group.
void UpdateCapcodeGroupMap(ConfigImage& image, const std::array<std::string, kCapcodeSlots>& texts);
void UpdateCapcodeGroupMap(ConfigImage& image,
                           const std::array<std::optional<std::uint32_t>, kCapcodeSlots>& values);

// The largest value the edit of a slot accepts.
std::uint32_t CapcodeMaximum(int slot, bool longMode);

// The check run on every key release in a capcode edit.
enum class CapcodeTextStatus {
  Empty,       // nothing typed yet: do nothing
  Accepted,    // `value` is to be encoded
  NotNumeric,  // message: "Please insert a numeric!"
  TooLarge,    // message: "Please insert a number between 0000007 to " + maximum
};
struct CapcodeTextCheck {
  CapcodeTextStatus status = CapcodeTextStatus::Empty;
  std::uint32_t value = 0;
  std::string message;  // empty unless refused
};
CapcodeTextCheck CheckCapcodeText(std::string_view text, std::uint32_t maximum);

// A decimal text of digits only, as a value that fits 32 bits; nullopt otherwise (also empty).
std::optional<std::uint32_t> ParseCapcode(std::string_view text);

}  // namespace tuva
