// The board's command protocol: request frames with a sequence number, the signature
// "Tarnhollow", a 24-bit address and its complement, a payload and a 16-bit sum, stuffed so that
// ETX (0x03) never occurs inside; four-byte acknowledgements; data replies ended by ETX.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "image/ConfigImage.h"
#include "link/CommPort.h"
#include "link/Frontend.h"

namespace tuva {

enum Command : std::uint8_t {
  kEraseBlock = 16,
  kWriteBlock = 17,
  kReadBlock = 18,
  kProbe = 24,
};
// Every command carries the one's complement of its code as its argument byte.
constexpr std::uint8_t ArgumentOf(std::uint8_t command) {
  return static_cast<std::uint8_t>(~command);
}

// Device addresses.
inline constexpr std::uint32_t kCopyStride = 0x20000;  // copy k lives at base + k * stride
inline constexpr std::uint32_t kConfigBase = 0x88000;  // configuration copy 0
inline constexpr std::uint32_t kConfigSecondErase = 0x90000;
inline constexpr std::uint32_t kConfigVersion = 0x8884B;  // 12-byte model and version text
inline constexpr std::uint32_t kConfigTrailer = 0x88FFE;  // 6-byte trailer
inline constexpr std::uint32_t kFirmwareBase = 0xE0000;   // program memory 0xE0000..0xEFFFF
inline constexpr std::uint32_t kFirmwareSize = 0x10000;
inline constexpr std::uint32_t kFirmwareVersion = 0xEFFE0;

inline constexpr std::size_t kReplyHeaderSize = 14;  // data of a reply starts here
inline constexpr std::size_t kLargeReplyBuffer = 10000;
inline constexpr std::size_t kSmallReplyBuffer = 50;
inline constexpr int kFruitlessPollLimit = 101;
inline constexpr std::chrono::milliseconds kPollInterval{50};
inline constexpr std::chrono::milliseconds kProbePollInterval{3};
// The longest a resynchronisation waits for the line to fall quiet: a 4100-byte reply stuffed
// throughout takes about 4.3 s at 19200 baud.
inline constexpr std::chrono::milliseconds kResyncLimit{5000};

// Frame building and parsing, as pure functions over byte buffers.
// The unstuffed frame: STX, sequence, length (data length + 10, LE), command, argument,
// "Tarnhollow", address (24-bit LE), ~address, data length (LE), payload, sum (LE).
std::vector<std::uint8_t> BuildFrame(std::uint8_t sequence, std::uint8_t command,
                                     std::uint8_t argument, std::uint32_t address,
                                     std::uint16_t dataLength,
                                     std::span<const std::uint8_t> payload);
// 0x03 -> 1B FC, 0x1B -> 1B E4; appends ETX.
std::vector<std::uint8_t> StuffFrame(std::span<const std::uint8_t> frame);
// 0x1B x -> ~x in place; returns the new count.
std::size_t Unescape(std::uint8_t* buffer, std::size_t count);

// The link: sequence number, link error flag, probe flag, and the exchanges over the one port.
class Protocol {
 public:
  // The payload of a WriteBlock follows its address: the firmware window takes its bytes from
  // `firmware` (65536 bytes mirroring 0xE0000..0xEFFFF), configuration addresses from the image
  // storage (which holds the four bytes past the image).
  Protocol(TCommPort& port, Frontend& frontend, const ConfigImage& image,
           std::span<const std::uint8_t> firmware);

  bool SendCommand(std::uint32_t address, std::uint16_t dataLength, std::uint8_t command,
                   std::uint8_t argument, std::uint16_t bank);
  // Receives a data reply into `buffer` (its size is the buffer's capacity); `count` is the
  // number of bytes stored, still stuffed. False on time-out or overflow (link error set).
  bool ReceiveReply(std::span<std::uint8_t> buffer, std::size_t& count);

  // ReadBlock, ReceiveReply, Unescape: the `length` data bytes from reply offset 14, with the
  // buffer zeroed first (bytes a short reply did not carry read 0). Empty on failure.
  // `capacity` is the receive buffer size (kLargeReplyBuffer or kSmallReplyBuffer).
  std::vector<std::uint8_t> ReadData(std::uint32_t address, std::uint16_t length,
                                     std::size_t capacity, std::uint16_t bank = 0);

  // Brings the line back in step after a reply that made no sense (the rest of an answer cut off
  // when an earlier run was killed, a frame the board's receiver still holds half of): a lone ETX
  // ends any half frame on the board's side (the board takes a lone ETX for line noise), then
  // whatever arrives is thrown away until the line has been quiet for two poll intervals, for at
  // most kResyncLimit. The link error flag is cleared: the next exchange starts afresh.
  void Resynchronise();

  std::uint8_t sequence() const { return sequence_; }
  // The board search frames its probes itself, on several ports at once: it takes their sequence
  // numbers here one by one and leaves the link at the number of the port it keeps.
  std::uint8_t NextSequence();
  void SetSequence(std::uint8_t sequence) { sequence_ = sequence; }
  std::chrono::milliseconds probePollInterval() const { return probePollInterval_; }
  bool linkError = false;
  bool probe = false;
  ProgressMeter progress;  // stepped by every byte sent and received

  // Shorter polls for tests of slow paths; the defaults are the board's.
  void SetPollIntervals(std::chrono::milliseconds normal, std::chrono::milliseconds probe);

  // Called with every frame sent and every reply or acknowledgement received (for --trace).
  std::function<void(bool sent, std::span<const std::uint8_t> bytes)> trace;

  TCommPort& port() { return port_; }
  Frontend& frontend() { return frontend_; }

 private:
  // One byte from the line, polling every `interval` with the front end's events processed in
  // between; false after kFruitlessPollLimit fruitless polls.
  bool WaitForByte(std::chrono::milliseconds interval, std::uint8_t& byte);
  // The four raw acknowledgement bytes; on time-out purges, resets the bars (not while probing)
  // and sets the link error flag.
  bool ReceiveAcknowledgement(std::span<std::uint8_t, 4> ack);
  // The bytes a WriteBlock carries for `address`; false when they are not all in memory.
  bool PayloadFor(std::uint32_t address, std::uint16_t length, std::uint16_t bank,
                  std::span<const std::uint8_t>& payload) const;
  // A data reply that did not arrive whole: purge, "Transmit Error!", bars reset, link error.
  void FailReceive();

  TCommPort& port_;
  Frontend& frontend_;
  const ConfigImage& image_;
  std::span<const std::uint8_t> firmware_;
  std::uint8_t sequence_ = 0x80;
  std::chrono::milliseconds pollInterval_ = kPollInterval;
  std::chrono::milliseconds probePollInterval_ = kProbePollInterval;
};

}  // namespace tuva
