// Where the feature fields of the board's configuration live in the image. Every codec and the
// field table take their offsets from here, so each offset is written once.
#pragma once

#include <cstddef>

namespace tuva::layout {

// Board serial output (UART): baud code, parity letter, stop bits, data bits.
inline constexpr std::size_t kBaud = 0x003;
inline constexpr std::size_t kParity = 0x017;
inline constexpr std::size_t kStopBits = 0x018;
inline constexpr std::size_t kDataBits = 0x019;
inline constexpr std::size_t kSerialLed = 0x015;  // inverted flag
inline constexpr std::size_t kRtsEnable = 0x9A3;  // inverted flag

// Time update: bit 6 of the last value byte of parameter entry 0x02, plus two inverted flags.
inline constexpr std::size_t kTimeUpdateBitByte = 0x037;
inline constexpr unsigned kTimeUpdateBit = 6;
inline constexpr std::size_t kTimeUpdate = 0x848;
inline constexpr std::size_t kTimeUpdateCopy = 0x9A4;

// Message time-out delay: in-use byte and 16-bit little-endian seconds.
inline constexpr std::size_t kMessageDelayInUse = 0x82C;
inline constexpr std::size_t kMessageDelay = 0x833;
inline constexpr unsigned kMessageDelayMax = 65000;

// Control flags chkCtl0..chkCtl4 at 0x82E + tag; chkCtl5 (Serial Out Enable) apart at 0x839.
inline constexpr std::size_t kControlFlags = 0x82E;
inline constexpr std::size_t kSerialOutEnable = 0x839;

// Capcode output strings, c = 0..15: count bytes and 30-byte areas, one set per kind.
inline constexpr std::size_t kHeaderCounts = 0x1F6;
inline constexpr std::size_t kHeaderBytes = 0x206;
inline constexpr std::size_t kTrailerCounts = 0x3E6;
inline constexpr std::size_t kTrailerBytes = 0x3F6;
inline constexpr std::size_t kTimeoutCounts = 0x5D6;
inline constexpr std::size_t kTimeoutBytes = 0x5E6;
inline constexpr std::size_t kStringCapacity = 30;
inline constexpr std::size_t kInternalFunctionCommand = 0x7DC;  // plain flag per capcode
inline constexpr std::size_t kFunctionCodes = 0x7EC;            // 4 bytes per capcode
inline constexpr std::size_t kFunctionCodeSize = 4;

// Outputs and periods.
inline constexpr std::size_t kPeriods = 0x1E0;  // outputs 1..9, one byte each
inline constexpr std::size_t kPreScaler = 0x1F5;
inline constexpr std::size_t kPowerUpOutputs = 0x837;  // bit i = output i + 1
inline constexpr std::size_t kPowerUpOutput9 = 0x838;  // bit 4 = output 9
inline constexpr unsigned kPowerUpOutput9Bit = 4;
inline constexpr std::size_t kPowerUpEnable = 0x83B;     // inverted flag
inline constexpr std::size_t kReceivingOutput = 0x00A;   // inverted flag, takes output 7
inline constexpr std::size_t kOutOfRangeOutput = 0x014;  // inverted flag, takes output 8
inline constexpr std::size_t kSynOutput = 0x9A8;         // inverted flag, takes output 6
inline constexpr int kOutputCount = 9;

// Source prompts: 20-byte slots, and the source mode.
inline constexpr std::size_t kPromptSlots = 0x863;
inline constexpr std::size_t kPromptSlotSize = 20;
inline constexpr std::size_t kPromptTextMax = 18;
inline constexpr std::size_t kSourceMode = 0x85E;

// Security and lock features.
inline constexpr std::size_t kOutOfRangeTimeout = 0x006;
inline constexpr std::size_t kTestMode = 0x008;  // inverted flag
inline constexpr std::size_t kSequentialLock = 0x1F3;
inline constexpr std::size_t kFunctionPassword1 = 0x7C6;  // count byte, 10 characters after it
inline constexpr std::size_t kFunctionPassword2 = 0x7D1;
inline constexpr std::size_t kPasswordMax = 10;
inline constexpr std::size_t kReadPassword = 0x83C;             // zero-terminated, 11 bytes
inline constexpr std::size_t kFunctionCommandPassword = 0x847;  // inverted flag

// Version text: "FLEX  V02.41" and a zero byte; its first six bytes tag a configuration file.
inline constexpr std::size_t kVersionText = 0x84B;
inline constexpr std::size_t kVersionTextSize = 13;

inline constexpr int kCapcodeCount = 16;

}  // namespace tuva::layout
