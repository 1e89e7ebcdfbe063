// What the capcode panel's handlers do to the image, without the panel: a capcode typed into a
// slot's edit, a click of an enable box, a choice of the Short/Long selector, the group map, and
// the prompt that "Auto Cap." makes of a capcode. The window and the command line both call these,
// so a capcode set either way ends in the same bytes.
//
// Where the window reads a capcode edit's text, these read what the edit shows after a refill: the
// decoded capcode of the slot. A slot whose edit the refill leaves alone (the second word of a long
// pair) and a slot shown as "invalid" have no capcode: nothing is encoded from them and they add
// no group to the group map.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "features/FeatureEntry.h"
#include "image/CapcodeCodec.h"

namespace tuva {

// The mode the Short/Long selector shows after a refill of the image: Long when byte 2106 says so
// or a record holds a long pair.
bool CapcodeLongMode(const ConfigImage& image);

// True when the edit and box of slot 1 are hidden: in Long mode slot 1 holds the second word of
// capcode 1's long address.
bool CapcodeSlotHidden(const ConfigImage& image, int slot);

// The text the slot's edit shows after a refill ("0001500", "0002101249", "invalid"); nullopt for
// a slot the refill leaves alone.
std::optional<std::string> ShownCapcodeText(const ConfigImage& image, int slot);

// A text typed (or pasted) into a slot's edit: checked against the slot's maximum and encoded.
// An empty text does nothing; a refusal carries the plain message box's text and writes nothing.
// A value the board cannot hold (2031615 to 2101248, a long value in a slot without a next record)
// passes the check and writes nothing, as in the window.
EntryResult StoreCapcodeEntry(ConfigImage& image, int slot, std::string_view text, bool longMode);

// A whole capcode text (an edit's when it is left, or a command's) that the check passes but that
// has no form the board can store in the mode: 2031615, and in slot 0 in Long mode anything up to
// 2101248 (a key-by-key check cannot refuse these, as they begin longer Long capcodes). The
// refusal names the value and the mode; nullopt for a text that is empty, stored, or refused by
// the check itself.
std::optional<EntryResult> RefuseUnstoredCapcode(const ConfigImage& image, int slot,
                                                 std::string_view text, bool longMode);

// Rebuilds the group map and its copies from the capcodes the image shows.
void UpdateCapcodeGroupMapFromImage(ConfigImage& image);

// A click of slot's enable box: the enable bit, then capcode 1 encoded again (in Long mode its
// pair carries slot 1's enable bit), then the group map.
void ClickCapcodeEnable(ConfigImage& image, int slot, bool enabled, bool longMode);

// A choice in the Short/Long selector: byte 2106; for Short capcode 2 is encoded again from what
// its edit shows; then capcode 1 is encoded again under the new mode, and the group map rebuilt.
void ChooseAddressMode(ConfigImage& image, AddressMode mode);

// "Auto Cap.": the prompt of slot becomes "<" + the capcode edit's text + ">", centred.
EntryResult StoreCapcodePrompt(ConfigImage& image, int slot, std::string_view capcodeText);

}  // namespace tuva
