// Setting and getting the image's fields by name, from and to the text a technician types.
//
// Every field that an editor of the programmer shows can be set here with exactly that editor's
// validation, limits and messages, and the window's editors call these same setters, so the bytes
// written cannot differ between the window and the command line. The pass-through rows are set as
// hexadecimal bytes ("01 1F 24 09 5A 96"), so that nothing of an image is out of reach; the image
// sum and the check bytes are not settable (saving and writing seal the image).
//
// A getter returns the text its setter accepts back unchanged: GetFieldText then SetFieldText
// leaves the image as it was.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "features/FeatureEntry.h"
#include "features/FieldTable.h"
#include "image/ConfigImage.h"

namespace tuva {

// True for every field an editor shows and for the pass-through rows; false for the image sum and
// the check bytes.
bool IsSettable(const Field& field);

// Every settable field, in table order.
std::vector<const Field*> SettableFields();

// The field's value as text that SetFieldText accepts back unchanged ("1500000", "on",
// "462.0125", "41;42").
std::string GetFieldText(const ConfigImage& image, const Field& field);

// Sets the field from the text a user would type, with the validation and message texts of the
// window's editor for it. A refused value leaves the image byte for byte as it was; the result
// carries the editor's message.
EntryResult SetFieldText(ConfigImage& image, const Field& field, std::string_view text);

// Up to `count` settable field names closest to an unknown name, closest first.
std::vector<std::string> ClosestFieldNames(std::string_view name, std::size_t count = 3);

}  // namespace tuva
