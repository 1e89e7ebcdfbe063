// The device operations of the programmer: Read, Write and Verify of the board's two
// configuration copies and the identification of its firmware. Each finds the board, talks to it,
// reports through the link's front end and closes the port on every way out. The operations
// that a user starts return their outcome.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/BoardLink.h"
#include "device/Outcome.h"

namespace tuva {

// Read (F3): copy 0 into the image, or copy 1 when copy 0 fails its sum (repairing copy 0 from
// it); asks the board's read password when the configuration holds one.
Outcome ReadConfiguration(BoardLink& link, Document& document);

// Write (F4): seals the image and writes both copies, the copy that keeps a good trailer on the
// board written last; each copy is erased, written and read back before the other is touched.
Outcome WriteConfiguration(BoardLink& link, Document& document);

// Verify (F9) in normal mode: compares the data bytes of copy 0 with the image.
Outcome VerifyConfiguration(BoardLink& link, Document& document);

// Check Firmware: shows the model and version line of the board's firmware, and returns it.
Outcome CheckFirmware(BoardLink& link);

// True when copy `copy`'s six trailer bytes on the board are well formed.
bool CheckTrailer(BoardLink& link, int copy);

// Bit 0: copy 0's trailer is well formed; bit 1: copy 1's. Copy 0 is checked first.
unsigned CheckBothTrailers(BoardLink& link);

// Erases copy `copy` and writes the image into it in two overlapping 2054-byte blocks. On failure
// the link error flag is set and the port closed. The status says " Waiting ......" throughout
// when `waiting` (the second copy of a Write, the repair of copy 0), else what is under way.
void EraseAndWrite(BoardLink& link, int copy, bool waiting);

// "Model : FLEX    Version = 2.41" from the firmware's text at the end of program memory;
// "The version field is empty!" when that memory is erased; empty when the reply did not arrive.
std::string IdentifyFirmware(BoardLink& link);

// Whether a reply to the firmware's 12-byte identification read (`count` bytes as received, still
// stuffed) makes no sense as one: broken stuffing, fewer than 12 data bytes, or a text byte outside
// printable ASCII. IdentifyFirmware reads again after such a reply, the line brought back in step.
bool IdentificationGarbled(std::vector<std::uint8_t> buffer, std::size_t count);

// "Model : " + characters 1-6 + "  Version = " + characters 9-12 of an identification text; a
// shorter text gives what characters it has.
std::string DisplayLine(const std::string& text);

// The same line for the text inside configuration copy `copy`; "This is old version !" when the
// copy carries no FLEX or POCSAG text; empty when the reply did not arrive.
std::string IdentifyConfiguration(BoardLink& link, int copy);

}  // namespace tuva
