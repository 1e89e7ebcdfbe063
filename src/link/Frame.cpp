// Request frames as the board expects them, and the byte stuffing that keeps ETX out of a frame.
#include "link/Protocol.h"

namespace tuva {
namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kEscape = 0x1B;
constexpr char kSignature[] = "Tarnhollow";  // ten letters, sent without the terminator

void PutLE(std::vector<std::uint8_t>& out, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> BuildFrame(std::uint8_t sequence, std::uint8_t command,
                                     std::uint8_t argument, std::uint32_t address,
                                     std::uint16_t dataLength,
                                     std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame;
  frame.reserve(26 + payload.size());
  frame.push_back(kStx);
  frame.push_back(sequence);
  PutLE(frame, static_cast<std::uint16_t>(dataLength + 10), 2);
  frame.push_back(command);
  frame.push_back(argument);
  frame.insert(frame.end(), kSignature, kSignature + 10);
  PutLE(frame, address & 0xFFFFFF, 3);
  PutLE(frame, ~address & 0xFFFFFF, 3);
  PutLE(frame, dataLength, 2);
  frame.insert(frame.end(), payload.begin(), payload.end());
  unsigned sum = 0;
  for (const std::uint8_t byte : frame) sum += byte;
  PutLE(frame, sum & 0xFFFF, 2);
  return frame;
}

std::vector<std::uint8_t> StuffFrame(std::span<const std::uint8_t> frame) {
  std::vector<std::uint8_t> out;
  out.reserve(frame.size() + frame.size() / 8 + 2);
  for (const std::uint8_t byte : frame) {
    if (byte == kEtx || byte == kEscape) {
      out.push_back(kEscape);
      out.push_back(static_cast<std::uint8_t>(~byte));
    } else {
      out.push_back(byte);
    }
  }
  out.push_back(kEtx);
  return out;
}

std::size_t Unescape(std::uint8_t* buffer, std::size_t count) {
  std::size_t out = 0;
  for (std::size_t in = 0; in < count; ++in) {
    if (buffer[in] == kEscape && in + 1 < count) {
      buffer[out++] = static_cast<std::uint8_t>(~buffer[++in]);
    } else {
      buffer[out++] = buffer[in];
    }
  }
  return out;
}

}  // namespace tuva
