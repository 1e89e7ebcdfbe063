// Setting and getting the image's fields by name, from and to the text a technician types.
//
// Every field that an editor of the programmer shows can be set here with exactly that editor's
// validation, limits and messages, and the window's editors call these same setters, so the bytes
// written cannot differ between the window and the command line. The pass-through rows are set as
// hexadecimal bytes ("01 1F 24 09 5A 96"), so that nothing of an image is out of reach; the image
// sum and the check bytes are not settable (saving and writing seal the image).
//
// A getter returns the text its setter accepts back unchanged: GetFieldText then SetFieldText
// leaves the image as it was. Every text a getter returns is printable ASCII.
//
// A setter does what the window does on that entry, other fields included: a capcode rebuilds the
// group map and its copies, and in "Auto Cap." prompt mode makes the capcode's prompt; an enable
// box encodes capcode 1 again (in Long mode its long pair carries capcode 2's enable bit); the
// Short/Long choice encodes capcodes 1 and 2 again; a band writes its PLL defaults (the frequency
// goes back to the band's default); the pre-scaler rescales the nine periods; "Auto Cap." makes
// every capcode its prompt (the window's question answered Yes); time update writes its three
// places; a pair string or a password writes its count. Capcode 2 is refused while the mode is
// Long (its edit and box are hidden then). A capcode the board cannot hold (2031615 to 2101248)
// passes as in the window and writes nothing: the result is ok but not `stored`.
//
// Texts:
//  - list boxes take their item's text ("9600", "even", "Long", "400-499MHz(12.5K)", "1 sec");
//  - check boxes take "on" or "off";
//  - numbers, periods (seconds), pair strings ("0D;0A") and capcodes ("1500000", "0002101249")
//    are written as in their edits; the frequency is in MHz ("462.0125"), where the window's own
//    edit counts 100 Hz;
//  - prompts and passwords are their characters, a byte that is not printable (and the
//    backslash) written "\xNN" as the dump shows it;
//  - fields without an editor of their own (the pass-through rows, the group map and its copies,
//    PLLR, the PLL constant, the version text, the message-delay in-use byte) take their bytes in
//    hexadecimal, as the dump shows them: "01 1F 24 09 5A 96";
//  - every settable field also takes its exact bits as "bytes:" and the bytes in hexadecimal
//    ("bytes:41 00 01"). The getter returns that form where the editor's text would not give back
//    the bytes the image holds: a capcode shown "invalid" (its address words name no number), the
//    second word of a long pair, a list box whose byte names none of its items, a flag byte that is
//    neither of its two values, a prompt or string with bytes past its length that differ from the
//    start-up configuration's.
// Choosing the item a list box already shows changes nothing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "features/FeatureEntry.h"
#include "features/FieldTable.h"
#include "image/ConfigImage.h"

namespace tuva {

// False only for the image sum and the check bytes.
bool IsSettable(const Field& field);

// Every settable field, in table order.
std::vector<const Field*> SettableFields();

// The field's value as text that SetFieldText accepts back unchanged ("1500000", "on",
// "462.0125", "41;42"). For an export use ExportFieldTexts, which also accounts for the fields
// that the entries of other fields write.
std::string GetFieldText(const ConfigImage& image, const Field& field);

// Sets the field from the text a user would type, with the validation and message texts of the
// window's editor for it. A refused value leaves the image byte for byte as it was; the result
// carries the editor's message and its box's caption (empty for the plain box). An empty text
// does what leaving the editor empty does: a number, period, capcode or frequency stays as it was
// (ok, not stored); a password, prompt or pair string becomes empty.
EntryResult SetFieldText(ConfigImage& image, const Field& field, std::string_view text);

// The prefix of the exact-bits form every settable field takes.
inline constexpr std::string_view kBytesPrefix = "bytes:";

// Up to `count` settable field names closest to an unknown name, closest first: the fields of a
// group the name spells out whole, then by edit distance of the dotted names, case aside, their
// last parts weighing twice.
std::vector<std::string> ClosestFieldNames(std::string_view name, std::size_t count = 3);

// "unknown field NAME (did you mean A, B, C?)".
std::string UnknownFieldMessage(std::string_view name);

// Every settable field's name and text, in table order: what `export` writes. Applied to the
// start-up configuration with ApplyFieldTexts, the texts give the image's bytes 0 to 4093: each
// field is its GetFieldText, or its "bytes:" form where a value entered before it would leave
// other bits in its bytes.
std::vector<std::pair<std::string, std::string>> ExportFieldTexts(const ConfigImage& image);

struct FieldRefusal {
  std::string field;  // the name as given
  EntryResult result;
};

// The refusal's message in the terms of the texts these setters take: the window's frequency
// limits count the 100 Hz of its edit, the texts give MHz ("Frequency setting error( 400.0000 <
// = Frequency < = 499.0000 MHz )"). Other messages are the editor's own.
std::string InTextTerms(const ConfigImage& image, const FieldRefusal& refusal);

// Sets every named field, all or none: on a refusal the image is left as it was and the first
// refusal is returned with its field's name ("unknown field NAME (did you mean ...?)" for a name
// the table does not hold). A name given twice is refused, and so is a value the editor takes but
// does not store (an empty number, capcode, period or frequency; a capcode with no form in its
// address mode): the change would silently not happen. The changes are applied in an order that
// lets each be checked as the window would check it: the list boxes that rewrite other fields
// (Short/Long, band, pre-scaler, prompt control) first, then PLLR and the capcode records given as
// bytes, then the editors' values in table order, then the capcode enable boxes, and last every
// field given as bytes and the counts and the group map, which the values before them write too.
// Applying the export of an image to the start-up configuration gives that image's bytes 0 to 4093.
std::optional<FieldRefusal> ApplyFieldTexts(
    ConfigImage& image, const std::vector<std::pair<std::string, std::string>>& changes);

// The number of one-character insertions, deletions and replacements that turn `a` into `b`:
// how near a mistyped name is to a real one.
std::size_t EditDistance(std::string_view a, std::string_view b);

}  // namespace tuva
