// Boards behind a serial server: a port name of the form rfc2217://HOST:PORT (Telnet with COM port
// control, the server sets the line as we ask) or socket://HOST:PORT (raw bytes over TCP, the line
// settings are the server's). Every place that takes a port name validates it here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tuva {

struct NetworkPort {
  enum class Scheme : std::uint8_t { Rfc2217, Socket };
  Scheme scheme = Scheme::Rfc2217;
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  std::uint16_t port = 0;

  // The canonical name: lower-case scheme, IPv6 hosts in brackets, no trailing slash.
  std::string Url() const;
  // HOST:PORT, for messages.
  std::string Address() const;
};

// True when `name` names a network port rather than a device (it has a scheme, "://").
bool IsNetworkPortName(const std::string& name);

// Parses a network port name. On failure returns nothing and `error` says what is wrong: an
// unknown scheme, no host, no port, or a port outside 1..65535.
std::optional<NetworkPort> ParseNetworkPort(const std::string& name, std::string& error);

// Why `name` cannot name a port, or nothing when it can: every front end checks a port it is given
// here before a run. A port is a device (a path such as /dev/ttyUSB0, or a name the device folder
// holds) or a network port as above. A name that begins with '-' is an option that took another
// option's place; a control character belongs in no device name or URL.
std::optional<std::string> PortNameProblem(const std::string& name);

// For a front end that asks for a URL: the canonical name, or an empty string and `error`.
std::string NormaliseNetworkPort(const std::string& name, std::string& error);

}  // namespace tuva
