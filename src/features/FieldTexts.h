// The editors' own texts of the fields, one codec per field of the table (used by FieldValues.cpp).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "features/FeatureEntry.h"
#include "features/FieldTable.h"

namespace tuva {

// When a field is set by ApplyFieldTexts: the selectors whose choice rewrites other fields first,
// then the PLL reference words the frequency is checked with, then the editors' values, then the
// enable boxes (which encode capcode 1 again), and last every byte written as it stands.
enum class ApplyStage { Selector = 0, Reference = 1, Value = 2, Enable = 3, Exact = 4 };

struct FieldTextCodec {
  // The text the field's editor shows, or nullopt when the bytes name no value it can show.
  std::function<std::optional<std::string>(const ConfigImage&)> get;
  // The editor's entry of a text, with its validation and messages.
  std::function<EntryResult(ConfigImage&, std::string_view)> set;
  ApplyStage stage = ApplyStage::Value;
};

// The codec of a field that has an editor; nullptr for the fields set only as bytes.
const FieldTextCodec* EditorCodec(const Field& field);

// Text fields carry bytes that are not printable as "\xNN" (and a backslash as "\x5C"), as the
// dump shows them; this reads such a text back into its bytes.
std::string UnescapeText(std::string_view text);

}  // namespace tuva
