// Motorola S-record files loaded into the firmware buffer.
#pragma once

#include <string>
#include <string_view>

#include "image/FirmwareBuffer.h"

namespace tuva {

// Loads S2 records by their fixed columns into `buffer`. False when the file cannot be opened or
// read; the buffer is then unchanged.
bool LoadSRecordFile(const std::string& path, FirmwareBuffer& buffer);
// The same over text already in memory (used by the file loader and the fuzzer).
void LoadSRecordText(std::string_view text, FirmwareBuffer& buffer);

}  // namespace tuva
