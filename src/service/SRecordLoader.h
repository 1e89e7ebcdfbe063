// Motorola S-record files loaded into the firmware buffer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "image/FirmwareBuffer.h"

namespace tuva {

// Why a file is no firmware for the board's program memory.
struct SRecordProblem {
  std::size_t line = 0;  // 1-based, counting every line of the file; 0: the file as a whole
  std::string reason;

  std::string Text() const;  // "line 3: " + reason, or the reason alone
};

// Loads S2 records by their fixed columns into `buffer`, and notes in `buffer.refusal` why the file
// must not be programmed, if it must not. False when the file cannot be opened or read; the buffer
// is then unchanged.
bool LoadSRecordFile(const std::string& path, FirmwareBuffer& buffer);

// The first reason, in file order, that the text is not firmware for the window: a line that is
// no S-record, a record type an S2 file does not hold (only the S0 header, S2 data, S5/S6 counts
// and the S8 end are), a bad checksum or byte count, data outside 0xE0000-0xEFFFF, no data at all,
// no S5/S6 count record, a count that differs from the data records before it or a record other
// than the S8 end after it, or no identification text at 0xEFFE0. None for a file the loader reads
// as it was meant.
std::optional<SRecordProblem> CheckSRecordText(std::string_view text);
// The same over text already in memory (used by the file loader and the fuzzer).
void LoadSRecordText(std::string_view text, FirmwareBuffer& buffer);

}  // namespace tuva
