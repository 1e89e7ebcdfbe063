// The bytes an RFC 2217 server sends, taken apart: Telnet commands (IAC ...), option negotiation,
// COM-PORT-OPTION subnegotiations, and the serial line's data with IAC IAC undoubled. The reader
// is a small state machine with bounded state, whatever the server sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tuva {

namespace telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;
// COM-PORT-OPTION commands from the client; the server answers with the code plus 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;
}  // namespace telnet

struct TelnetEvent {
  enum class Kind : std::uint8_t { Will, Wont, Do, Dont, ComPort };
  Kind kind = Kind::Will;
  std::uint8_t code = 0;            // the option, or the COM-PORT-OPTION command
  std::vector<std::uint8_t> value;  // a COM-PORT-OPTION command's value
  std::size_t dataBefore = 0;       // data bytes of the same Feed that came before it
};

class Rfc2217Reader {
 public:
  // A COM-PORT-OPTION value longer than this is no answer we asked for; it is dropped whole.
  static constexpr std::size_t kValueLimit = 16;

  // Takes the next bytes from the server: line data is appended to `data`, commands to `events`.
  void Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
            std::vector<TelnetEvent>& events);

 private:
  enum class State : std::uint8_t { Data, Iac, Option, SbOption, Sb, SbIac };
  void Command(std::uint8_t byte);  // the byte after an IAC that is not a doubled 0xFF
  void KeepValueByte(std::uint8_t byte);
  void EndSubnegotiation(std::size_t dataBefore, std::vector<TelnetEvent>& events);

  State state_ = State::Data;
  std::uint8_t verb_ = 0;  // WILL, WONT, DO or DONT awaiting its option
  std::uint8_t sbOption_ = 0;
  std::vector<std::uint8_t> sb_;  // at most kValueLimit + 1 bytes
  bool sbTooLong_ = false;
};

}  // namespace tuva
