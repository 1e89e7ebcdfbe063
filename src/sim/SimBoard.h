// The simulated Tuva board: the firmware's side of the command protocol over a NOR flash.
// It takes the bytes the programmer sends, checks every frame, carries out probe, erase, write
// and read, and gives back the acknowledgement or data reply the programmer expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimFlash.h"

namespace tuva::sim {

// What the board holds when it is powered up without a flash file.
enum class SimContents {
  Startup,         // the programmer's start-up image, sealed, in both copies
  Erased,          // both configuration copies erased; the firmware is there
  Table,           // a .tbl file, sealed, in both copies
  Copy0Corrupted,  // copy 0's data no longer matches its sum; copy 1 good
  Copy1Only,       // copy 0 erased, copy 1 good
};

// A board that stores a wrong byte: the `command`-th write command it is sent (counting from 1)
// stores payload byte `index` (counting from 0) with every bit inverted, and acknowledges as usual.
struct CorruptWrite {
  std::size_t command = 1;
  std::size_t index = 0;
};

struct SimOptions {
  SimContents contents = SimContents::Startup;
  std::string tablePath{};            // the .tbl for SimContents::Table
  bool pocsagFirmware = false;        // the firmware identifies as "POCSAG V1.20"
  bool erasedIdentification = false;  // twelve 0xFF where the firmware's identification lives
  // Twelve bytes in place of "FLEX  V02.41" (shorter texts are padded with spaces), any bytes.
  std::string identification{};
  std::string readPassword{};  // stored in both configuration copies (at most 10 characters)

  bool refuseErase = false;  // every EraseBlock is answered with a refusal
  bool refuseWrite = false;  // every WriteBlock is answered with a refusal
  bool silent = false;       // nothing is ever answered
  bool paced = false;        // bytes take as long as at 19200 baud, both ways
  // A board whose answer was cut off when the programmer went away (killed during a Write's
  // read-back): the rest of that answer, ended by its ETX, still goes out before its next data
  // reply, so the first data reply the programmer waits for starts with stale bytes.
  bool garbleFirstReply = false;
  std::optional<CorruptWrite> corruptWrite{};

  // A contact that flickers: of every `flickerEvery` probes, the last `flickerRun` go unanswered
  // (0: every probe is answered).
  int flickerEvery = 0;
  int flickerRun = 1;
  // A board slow to wake: after each of its first `deafAfterProbes` answered probes, the next
  // frame goes unanswered.
  int deafAfterProbes = 0;

  // A power cut: after this many received frames (each answered), or after this many received
  // bytes, the board answers nothing and applies nothing more.
  std::optional<std::size_t> cutAfterFrames{};
  std::optional<std::size_t> cutAfterBytes{};

  // Flash file: loaded at power-up when it exists (the contents options are then ignored),
  // written after every change of the flash and when the board stops. With boards that come and
  // go, board k (1, 2, ...) keeps its flash in this path with ".k" appended.
  std::string flashFile{};

  // Boards that come and go on the one line, as on a programming jig: 0 keeps one board plugged
  // in for good. N > 0 serves N boards one after another: once a board's Write is complete (both
  // copies written) and the programmer has let go of the line (nothing received for 0.4
  // seconds), the board is pulled out; the line stays silent for `removedMs`, then the next
  // board, with fresh contents, answers. After the last board the line stays silent.
  int boards = 0;
  int removedMs = 1000;

  // One line per frame, from the thread that serves the board (it must not call back into the
  // server: the board is locked while it logs).
  std::function<void(const std::string&)> log{};
};

// One frame seen or sent by the board.
struct SimFrameRecord {
  bool received = true;  // a request from the programmer; false: the board's answer
  std::string command;  // "Probe", "EraseBlock", "WriteBlock", "ReadBlock", "Command 0x..", "Frame"
  std::uint32_t address = 0;
  std::uint16_t length = 0;
  std::string result;  // what the board did ("erased 0x88000-0x8FFFF", "refused: checksum")
                       // or what it sent ("ack", "refusal", "data")
  std::string Line() const;
};

// The firmware identification texts the board can carry.
inline constexpr char kFlexIdentification[] = "FLEX  V02.41";
inline constexpr char kPocsagIdentification[] = "POCSAG V1.20";

// Builds the flash a board with these options powers up with (the flash file is not looked at).
// Throws std::runtime_error when the .tbl cannot be read or is not 4100 bytes long.
SimFlash MakeFlash(const SimOptions& options);

class SimBoard {
 public:
  // Powers up: from the flash file when it exists, otherwise from the contents options.
  explicit SimBoard(SimOptions options);

  // Takes one byte from the line; appends whatever the board sends back to `reply`.
  void Receive(std::uint8_t byte, std::vector<std::uint8_t>& reply);

  // Writes the flash file, when there is one.
  void SaveFlash() const;

  bool poweredOff() const { return poweredOff_; }
  // Both configuration copies have been written in full since power-up.
  bool writeCompleted() const { return copiesWritten_ == 3u; }
  const std::vector<SimFrameRecord>& records() const { return records_; }
  const SimFlash& flash() const { return flash_; }
  SimFlash& flash() { return flash_; }

 private:
  bool EraseBlock(std::uint32_t address, SimFrameRecord& record);
  bool WriteBlock(const std::vector<std::uint8_t>& frame, std::uint32_t address,
                  std::uint16_t length, SimFrameRecord& record);
  void SendBlock(std::uint8_t sequence, std::uint8_t command, std::uint32_t address,
                 std::uint16_t length, std::vector<std::uint8_t>& reply);
  void HandleFrame(std::vector<std::uint8_t> wire, std::vector<std::uint8_t>& reply);
  // Whether a well-formed frame with this command goes unanswered (flicker, deafness).
  bool Unheard(std::uint8_t command);
  void Answer(SimFrameRecord request, std::uint8_t sequence, std::uint8_t command, bool accepted,
              std::vector<std::uint8_t>& reply);
  void Record(SimFrameRecord record);
  void KeepFlash();  // SaveFlash after a change; a failure is logged, the board goes on

  SimOptions options_;
  SimFlash flash_;
  std::vector<std::uint8_t> pending_;  // bytes of the frame being received, still stuffed
  bool overlong_ = false;
  std::size_t bytesReceived_ = 0;
  std::size_t framesReceived_ = 0;
  std::size_t writesReceived_ = 0;  // well-formed write commands
  std::size_t probesReceived_ = 0;
  int probesAnswered_ = 0;
  bool deaf_ = false;       // the next frame goes unanswered
  bool staleSent_ = false;  // the rest of the cut-off answer went out (garbleFirstReply)
  bool poweredOff_ = false;
  unsigned copiesWritten_ = 0;  // bit k: the last block of copy k was written
  std::vector<SimFrameRecord> records_;
};

}  // namespace tuva::sim
