// The firmware step of a series: each board gets the released firmware before its configuration.
//
// Burning the program memory costs half a minute at 19200 baud, so a board is looked at first,
// cheaply: one read of the last 32 bytes of the window (0xEFFE0..0xEFFFF) brings the firmware's
// identification text and the two sum bytes at its very end, which the file also carries (the sum
// of every other byte of the window, low byte first). Both equal: the board already runs this
// file, and the step is skipped, or, when asked, the board's every non-blank block is read back
// and compared. Otherwise the window is erased, written and read back, as in service mode.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "image/FirmwareBuffer.h"

namespace tuva::series {

struct SeriesFirmware {
  FirmwareBuffer buffer;   // the file as loaded; buffer.refusal says why it must not be burnt
  std::string sha256;      // of the file's bytes, as recorded with every attempt
  bool fullCheck = false;  // a board that looks the same is still compared block by block
};

// Loads the S-record file at `path`. A message when it cannot be read; its faults as firmware are
// in buffer.refusal and judged by FirmwareRefusal.
std::optional<std::string> LoadSeriesFirmware(const std::string& path, SeriesFirmware& firmware);

// Why the loaded file must not go on the boards: the file checks' reason, or firmware that does
// not identify as FLEX (the configuration Write would refuse every board it was burnt into).
std::optional<std::string> FirmwareRefusal(const SeriesFirmware& firmware);

// The display line the board gives once the file is on it ("Model : FLEX    Version = 2.41").
std::string FirmwareLineOf(const FirmwareBuffer& buffer);

// The last 32 bytes of the board's window against the file: its identification text and its two
// sum bytes.
enum class FirmwareLook { Same, Different, NoAnswer };
FirmwareLook LookAtFirmware(const std::string& device, const FirmwareBuffer& buffer);

struct FirmwareOutcome {
  bool ok = false;          // the board runs the file now
  bool programmed = false;  // erased, written and read back whole in this step
  // What the step did, as the board's record says it: "firmware programmed", "firmware already
  // on the board", "firmware verified", "firmware programming failed: <why>", "firmware not
  // looked at: <why>".
  std::string state;
};

// The firmware step for the board on `device`. `percent` follows the long transfers (0..100).
FirmwareOutcome PutFirmware(const std::string& device, const SeriesFirmware& firmware,
                            const std::function<void(int)>& percent);

}  // namespace tuva::series
