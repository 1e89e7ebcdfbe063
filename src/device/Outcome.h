// What a device or service operation came to, and what it learned of the board on the way. The
// front end has already shown its messages; a caller decides on the kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tuva {

enum class OutcomeKind {
  Done,
  NoFile,                // service mode without a firmware file
  FileRefused,           // the firmware file is no firmware for the board; see `line`
  BoardNotFound,         // the opening probe went unanswered: nothing was sent to the board
  ModelUnreadable,       // an identification text did not arrive
  NotFlex,               // the board's firmware identifies as POCSAG
  Declined,              // the overwrite or program question was answered No (or not asked)
  TrailerNotWellFormed,  // Read: copy 0 failed its sum and copy 1's trailer is not well formed
  SumWrong,              // Read: neither copy passes its sum
  PasswordRefused,       // Read: the read password was not given
  BlockDiffers,          // a block read back differs from what was sent; see `address`
  TransmitError,         // a command was refused, or a reply or acknowledgement did not arrive
  LinkLost,              // a serial call failed: the adapter is gone
};

struct Outcome {
  Outcome() = default;
  Outcome(OutcomeKind kind_) : kind(kind_) {}  // NOLINT: an outcome of this kind, nothing learned

  OutcomeKind kind = OutcomeKind::Done;
  std::string firmwareLine;   // "Model : FLEX    Version = 2.41", when the firmware was identified
  unsigned goodCopies = 0;    // before a Write: bit 0 copy 0's trailer well formed, bit 1 copy 1's
  std::uint32_t address = 0;  // BlockDiffers: the board address the block starts at
  std::size_t line = 0;       // FileRefused: the file's line (0: the file as a whole)
  long bytesMoved = 0;        // over the line, both ways
  // Read: copy 0 failed its sum and was rewritten from copy 1, but did not read back as written
  // (the configuration read, copy 1's, is good all the same).
  bool copyZeroUnrepaired = false;

  bool Done() const { return kind == OutcomeKind::Done; }
};

}  // namespace tuva
