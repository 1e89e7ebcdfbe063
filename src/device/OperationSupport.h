// Pieces every device operation shares: the status texts, closing the port on the way out, the
// reports of a missing board and of a lost connection, and one ReadBlock exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "device/BoardLink.h"
#include "device/Outcome.h"

namespace tuva {

// The application title, caption of the plain messages.
inline constexpr const char* kAppTitle = "FVantel";

inline constexpr const char* kOverwriteCaption = "Version";
inline constexpr const char* kOverwriteQuestion =
    "The program data is wrong ! Are you sure to overwrite ?";
inline constexpr const char* kNotFlex = "The firmware is not FLEX ! ";
// After a Read that took copy 1 and rewrote copy 0 from it, when copy 0 did not read back so.
inline constexpr const char* kCopyZeroUnrepaired =
    "Copy 0 was rewritten from copy 1 but does not read back as written: the configuration read "
    "is good and kept; write it to the board to repair copy 0.";
inline constexpr const char* kReadSuccess = "Read Sucess!";

// Runs an operation's steps; a serial call that fails on the way is reported as a lost link. The
// outcome tells the bytes that moved.
Outcome Reported(BoardLink& link, const std::function<Outcome()>& steps);

// Closes the port; a failing close (the adapter is already gone) is not worth a second report.
void ClosePort(BoardLink& link) noexcept;

// " Error", "The target board is not found !" (and which ports were denied), port closed,
// progress 0, " Ready". Returns BoardNotFound.
Outcome ReportBoardNotFound(BoardLink& link);

// The start of a transfer: Write disabled, " Verify ......", the probe's progress, the board
// search. BoardNotFound when no board answered (reported, Write enabled again).
Outcome OpenTransfer(BoardLink& link);

// A serial call failed while the port was open, typically because the adapter was pulled out:
// closes the port, says so naming the port and the system error, and resets the window.
void ReportLinkLost(BoardLink& link, const ECommError& error);

// A Write or firmware programming that gave up before touching the board: Write enabled,
// progress 0, " Ready", port closed. Returns `why`.
Outcome Abandon(BoardLink& link, OutcomeKind why);

// Sends one command and sets the link error flag when it could not be completed.
bool SendChecked(BoardLink& link, std::uint32_t address, std::uint16_t length, std::uint8_t command,
                 std::uint16_t bank);

// One ReadBlock exchange into a zeroed buffer of `capacity` bytes. `buffer` holds the reply as
// received (still stuffed) and `count` its length. False (link error set) when the frame could not
// be sent or the reply did not arrive.
bool ReadRaw(BoardLink& link, std::uint32_t address, std::uint16_t length, std::size_t capacity,
             std::uint16_t bank, std::vector<std::uint8_t>& buffer, std::size_t& count);

// ReadRaw followed by unstuffing in place: the data start at kReplyHeaderSize. `unstuffed`, when
// given, receives the length of the reply after unstuffing; the buffer past it holds leftovers.
bool ReadReply(BoardLink& link, std::uint32_t address, std::uint16_t length, std::size_t capacity,
               std::uint16_t bank, std::vector<std::uint8_t>& buffer,
               std::size_t* unstuffed = nullptr);

// Whether an unstuffed reply of `count` bytes carries every byte of `expected` as its data. A
// reply cut short never matches, whatever the buffer holds past its end.
bool ReplyHolds(const std::vector<std::uint8_t>& reply, std::size_t count,
                std::span<const std::uint8_t> expected);

// The block at `address` read back differs: the "Verify Error! Htag = N" message, Write enabled,
// progress 0, port closed. The status text stays as it was. Returns BlockDiffers.
Outcome ReportVerifyError(BoardLink& link, std::uint32_t address);

// The end of a Write, Verify or firmware operation that ran its course: `success` or `failure`
// as the link error flag says, progress 0, port closed, Write enabled, " Ready". Returns Done or
// TransmitError.
Outcome Finish(BoardLink& link, const char* success, const char* failure);

// Characters 9 to 14 (1-based) of a display line: the model field after "Model : ".
std::string ModelOfLine(const std::string& line);

}  // namespace tuva
