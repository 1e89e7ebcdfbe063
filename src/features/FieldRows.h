// The rows of the field table that name a field of the board (everything but the pass-through
// rows, which the table derives from what these leave uncovered). Used by FieldTable.cpp.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "features/FieldTable.h"

namespace tuva {

std::vector<Field> BuildNamedFields();

// Bytes as text for a dump: printable ASCII as it stands, anything else as \xNN.
std::string EscapedText(std::span<const std::uint8_t> bytes);
std::string EscapedText(std::string_view text);

}  // namespace tuva
