// The lines of an S-record file, as the loader and the file check both walk them, and the window
// of program memory the records must fall in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/FirmwareBuffer.h"
#include "image/Utf8.h"

namespace tuva {

inline constexpr std::uint32_t kWindowBase = 0xE0000;
inline constexpr std::uint32_t kWindowEnd = kWindowBase + kFirmwareBufferSize;

// Calls `visit(number, line)` for each line that holds anything, in file order: `number` counts
// every line from 1, `line` is without its line feed. A carriage return before the line feed is no
// part of the record, so a line that holds nothing else is as empty as a bare line feed. Stops
// early when `visit` returns false.
template <typename Visit>
void EachSRecordLine(std::string_view text, Visit visit) {
  std::size_t number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (!visit(number, line)) return;
  }
}

}  // namespace tuva
