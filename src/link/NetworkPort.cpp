#include "link/NetworkPort.h"

#include <algorithm>
#include <cctype>

namespace tuva {
namespace {

constexpr std::string_view kSeparator = "://";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool ValidHostName(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
  });
}

bool ValidIpv6(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isxdigit(c) || c == ':' || c == '.';
  });
}

// Decimal 1..65535, digits only.
std::optional<std::uint16_t> PortNumber(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return std::nullopt;
  }
  const unsigned long value = std::stoul(text);
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string NetworkPort::Address() const {
  const bool v6 = host.find(':') != std::string::npos;
  std::string text = v6 ? "[" + host + "]" : host;
  text += ":";
  text += std::to_string(port);
  return text;
}

std::string NetworkPort::Url() const {
  std::string text = scheme == Scheme::Rfc2217 ? "rfc2217://" : "socket://";
  text += Address();
  return text;
}

bool IsNetworkPortName(const std::string& name) {
  return name.find(kSeparator) != std::string::npos;
}

namespace {

// "HOST:PORT" or "[IPV6]:PORT" after the scheme: the host into `port`, the port's text into
// `portText`; false with `error` when the host is not one.
bool SplitHost(const std::string& rest, NetworkPort& port, std::string& portText,
               std::string& error) {
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos) {
      error = "unclosed [ around the host";
      return false;
    }
    port.host = rest.substr(1, close - 1);
    if (!ValidIpv6(port.host)) {
      error = "\"" + port.host + "\" is not an IPv6 address";
      return false;
    }
    const std::string after = rest.substr(close + 1);
    if (after.empty() || after.front() != ':') {
      error = "no port: give HOST:PORT";
      return false;
    }
    portText = after.substr(1);
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos) {
      error = "no port: give HOST:PORT";
      return false;
    }
    port.host = rest.substr(0, colon);
    portText = rest.substr(colon + 1);
    if (!ValidHostName(port.host)) {
      error = port.host.empty() ? "no host: give HOST:PORT"
                                : "\"" + port.host + "\" is not a host name or address";
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<NetworkPort> ParseNetworkPort(const std::string& name, std::string& error) {
  const std::size_t separator = name.find(kSeparator);
  if (separator == std::string::npos) {
    error = "not a network port (rfc2217://HOST:PORT or socket://HOST:PORT)";
    return std::nullopt;
  }
  NetworkPort port;
  const std::string scheme = Lower(name.substr(0, separator));
  if (scheme == "rfc2217") {
    port.scheme = NetworkPort::Scheme::Rfc2217;
  } else if (scheme == "socket") {
    port.scheme = NetworkPort::Scheme::Socket;
  } else {
    error = "unknown scheme \"" + scheme + "\" (rfc2217:// or socket://)";
    return std::nullopt;
  }
  std::string rest = name.substr(separator + kSeparator.size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();

  std::string portText;
  if (!SplitHost(rest, port, portText, error)) return std::nullopt;
  if (portText.empty()) {
    error = "no port: give HOST:PORT";
    return std::nullopt;
  }
  const auto number = PortNumber(portText);
  if (!number) {
    error = "port \"" + portText + "\" is not a number from 1 to 65535";
    return std::nullopt;
  }
  port.port = *number;
  return port;
}

std::optional<std::string> PortNameProblem(const std::string& name) {
  if (name.empty()) return "a port name is empty";
  if (name.front() == '-') return name + ": a port name cannot begin with -";
  if (std::any_of(name.begin(), name.end(),
                  [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
    return "a port name holds a control character";
  }
  std::string problem;
  if (IsNetworkPortName(name) && !ParseNetworkPort(name, problem)) return name + ": " + problem;
  return std::nullopt;
}

std::string NormaliseNetworkPort(const std::string& name, std::string& error) {
  std::string trimmed = name;
  trimmed.erase(0, std::min(trimmed.find_first_not_of(" \t"), trimmed.size()));
  trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
  const auto port = ParseNetworkPort(trimmed, error);
  return port ? port->Url() : std::string();
}

}  // namespace tuva
