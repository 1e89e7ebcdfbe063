// What an editor's entry handler gets back from the feature codecs: whether the entry was
// accepted, whether image bytes were written, and, for a refused entry, the message to show.
// User input never throws; a refused entry leaves the image exactly as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/Frontend.h"

namespace tuva {

// The application title, which captions the plain message box.
inline constexpr std::string_view kAppTitle = "FVantel";
// Caption of the warning boxes of range errors.
inline constexpr std::string_view kWarningCaption = "Vantel";

inline constexpr std::string_view kNotNumericMessage = "Please insert a numeric!";
inline constexpr std::string_view kNotNumericKeyMessage = "Please insert a numeric !";

struct EntryResult {
  bool ok = true;       // the entry was accepted (stored, or empty so nothing was to be stored)
  bool stored = false;  // image bytes were written
  std::string message;  // empty unless refused
  // Caption of the message box; empty for the plain message (captioned with kAppTitle).
  std::string caption;
  MessageIcon icon = MessageIcon::None;

  bool plain() const { return caption.empty(); }

  // An empty entry: nothing stored, the editor shows the stored value again.
  static EntryResult Unchanged() { return {}; }
  static EntryResult Stored() { return {true, true, {}, {}, MessageIcon::None}; }
  // A refusal in the plain message box ("Please insert a numeric!").
  static EntryResult Plain(std::string_view text) {
    return {false, false, std::string(text), {}, MessageIcon::None};
  }
  // A refusal in a warning box with an exclamation icon.
  static EntryResult Warning(std::string_view text, std::string_view caption = kWarningCaption) {
    return {false, false, std::string(text), std::string(caption), MessageIcon::Exclamation};
  }
};

// The text with leading and trailing spaces removed.
std::string_view TrimSpaces(std::string_view text);

// A whole decimal number: an optional sign and at least one digit, nothing else. Values beyond
// the range of long long saturate, so they still read as numbers that are out of any range.
std::optional<long long> ParseWholeNumber(std::string_view text);

// Reads a whole number and checks it against 0..maximum, with the editors' two messages:
// "Please insert a numeric!" (plain) and "Please insert a number between 0 and <max> !" (warning).
// On success `value` holds the number.
EntryResult CheckWholeNumber(std::string_view text, long long maximum, long long& value);

// Upper-case hexadecimal of one byte, two digits.
std::string HexByte(unsigned value);

// How a selector's byte that names none of its items is shown in a dump: "? (0xFF)".
std::string UnknownByteText(unsigned value);

}  // namespace tuva
