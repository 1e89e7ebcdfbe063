// The board's program memory 0xE0000..0xEFFFF against the firmware buffer: the verify form reads
// back every non-blank 2048-byte block and compares it; the program form identifies the board,
// erases the window, writes the non-blank blocks in ascending order and then verifies them.
#pragma once

#include <string>

#include "device/BoardLink.h"
#include "device/Outcome.h"

namespace tuva {

// Loads an S-record file into `firmware`. When the file cannot be opened or read, says so in a
// "File Error" box and leaves the buffer as it was.
bool LoadFirmwareFile(Frontend& frontend, FirmwareBuffer& firmware, const std::string& path);

inline constexpr const char* kFirmwareFileCaption = "Firmware File";
inline constexpr const char* kProgramCaption = "Program Firmware";

// The question asked before the program form erases the board: the file's name, size and the
// identification text it carries.
std::string ProgramQuestion(const FirmwareBuffer& firmware);

// Verify in service mode: every non-blank block read back and compared, nothing written.
Outcome VerifyFirmware(BoardLink& link, const Document& document);

// Erase, write every non-blank block, read back and compare. A file the loader refused is reported
// and the user is asked to confirm before the board is touched.
Outcome ProgramFirmware(BoardLink& link, const Document& document);

}  // namespace tuva
