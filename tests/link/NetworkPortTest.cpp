// Network ports: the names, the RFC 2217 reader, and the client against real TCP servers that
// misbehave as a wrong or broken server does (the good servers are in the tuvactl tests).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "link/CommPort.h"
#include "link/NetworkPort.h"
#include "link/Rfc2217Reader.h"

namespace tuva {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

TEST(NetworkPort, NamesAreCheckedAndNormalised) {
  struct Case {
    const char* name;
    const char* url;    // nullptr: refused
    const char* error;  // part of the reason when refused
  };
  const Case cases[] = {
      {"rfc2217://bench3.lan:2217", "rfc2217://bench3.lan:2217", ""},
      {"  SOCKET://10.0.0.7:4001/ ", "socket://10.0.0.7:4001", ""},
      {"rfc2217://[::1]:2217", "rfc2217://[::1]:2217", ""},
      {"rfc2217://bench3.lan", nullptr, "no port"},
      {"rfc2217://bench3.lan:", nullptr, "no port"},
      {"rfc2217://:2217", nullptr, "no host"},
      {"socket://bench:0", nullptr, "1 to 65535"},
      {"socket://bench:65536", nullptr, "1 to 65535"},
      {"socket://bench:22x", nullptr, "1 to 65535"},
      {"telnet://bench:23", nullptr, "unknown scheme \"telnet\""},
      {"rfc2217://user@bench:23", nullptr, "not a host name"},
      {"rfc2217://[::1:2217", nullptr, "unclosed ["},
  };
  for (const Case& c : cases) {
    std::string error;
    const std::string url = NormaliseNetworkPort(c.name, error);
    if (c.url) {
      EXPECT_EQ(url, c.url) << c.name << ": " << error;
    } else {
      EXPECT_EQ(url, "") << c.name;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
  }
  EXPECT_TRUE(IsNetworkPortName("socket://x:1"));
  EXPECT_FALSE(IsNetworkPortName("/dev/ttyUSB0"));
}

// Devices as the board search and the window name them pass; an option in a port's place, a
// control character or a broken URL do not.
TEST(NetworkPort, PortNamesAreCheckedBeforeARun) {
  const struct {
    const char* name;
    const char* problem;  // nullptr: a port
  } cases[] = {
      {"/dev/ttyUSB0", nullptr},
      {"ttyS0", nullptr},
      {"/dev/serial/by-id/usb-Prolific_PL2303-if00-port0", nullptr},
      {"/dev/serial/by-path/bench 2", nullptr},
      {"rfc2217://bench:2217", nullptr},
      {"socket://[::1]:4001", nullptr},
      {"", "a port name is empty"},
      {"--records", "--records: a port name cannot begin with -"},
      {"-q", "-q: a port name cannot begin with -"},
      {"/dev/ttyUSB0\n", "a port name holds a control character"},
      {"/dev/tty\x7F", "a port name holds a control character"},
      {"socket://bench", "socket://bench: no port: give HOST:PORT"},
  };
  for (const auto& c : cases) {
    const auto problem = PortNameProblem(c.name);
    EXPECT_EQ(problem.value_or("(none)"), c.problem ? c.problem : "(none)") << c.name;
  }
}

TEST(NetworkPort, ReaderSeparatesLineDataFromTelnetCommands) {
  const Bytes wire = {0x02, IAC, IAC, 0x03,  // data with a doubled 0xFF
                      IAC,  DO,  44,         // a negotiation
                      IAC,  SB,  44,  101,  0,   0,   0x4B, 0,   IAC, SE,  // baud rate answer
                      0x41, IAC, SB,  44,   112, IAC, IAC,  IAC, SE,  // value with a doubled 0xFF
                      IAC,  SB,  44,  105,  1,   IAC, DONT, 44,       // broken off by a command
                      IAC,  241, 0x42};                               // NOP
  Rfc2217Reader reader;
  Bytes data;
  std::vector<TelnetEvent> events;
  // Split at every point: the reader keeps its state between reads.
  for (std::size_t split = 0; split <= wire.size(); ++split) {
    Rfc2217Reader fresh;
    Bytes d;
    std::vector<TelnetEvent> e;
    fresh.Feed(std::span(wire).first(split), d, e);
    fresh.Feed(std::span(wire).subspan(split), d, e);
    EXPECT_EQ(d, (Bytes{0x02, 0xFF, 0x03, 0x41, 0x42})) << split;
    ASSERT_EQ(e.size(), 4u) << split;
  }
  reader.Feed(wire, data, events);
  EXPECT_EQ(events[0].kind, TelnetEvent::Kind::Do);
  EXPECT_EQ(events[0].code, 44);
  EXPECT_EQ(events[0].dataBefore, 3u);
  EXPECT_EQ(events[1].kind, TelnetEvent::Kind::ComPort);
  EXPECT_EQ(events[1].code, 101);
  EXPECT_EQ(events[1].value, (Bytes{0, 0, 0x4B, 0}));
  EXPECT_EQ(events[2].value, (Bytes{0xFF}));
  EXPECT_EQ(events[2].dataBefore, 4u);
  EXPECT_EQ(events[3].kind, TelnetEvent::Kind::Dont);

  // A subnegotiation that never ends keeps no more than the limit, and data resumes after it.
  Rfc2217Reader flooded;
  Bytes floodData;
  std::vector<TelnetEvent> floodEvents;
  Bytes flood = {IAC, SB, 44, 101};
  flood.resize(100000, 0x55);
  for (const std::uint8_t byte : {IAC, SE, std::uint8_t{0x07}}) flood.push_back(byte);
  flooded.Feed(flood, floodData, floodEvents);
  ASSERT_EQ(floodEvents.size(), 1u);
  EXPECT_EQ(floodEvents[0].code, 0);  // too long to be an answer
  EXPECT_EQ(floodData, Bytes{0x07});
}

// A TCP server on the loopback that sends `greeting` at once, `answer` once the client has sent
// its first subnegotiation (the line settings), and closes when `close` says so. Received() gives
// what the client sent, once the client has closed.
class ScriptedServer {
 public:
  ScriptedServer(Bytes greeting, Bytes answer, bool closeAtOnce)
      : greeting_(std::move(greeting)), answer_(std::move(answer)), close_(closeAtOnce) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  Bytes Received() {
    thread_.join();
    return seen_;
  }
  std::string Url(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }

 private:
  void Serve() {
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    ::send(client, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
    std::uint8_t chunk[512];
    bool answered = answer_.empty();
    while (!close_) {
      pollfd waiter{client, POLLIN, 0};
      if (::poll(&waiter, 1, 5000) <= 0) break;
      const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
      if (got <= 0) break;
      seen_.insert(seen_.end(), chunk, chunk + got);
      const Bytes subnegotiation = {IAC, SB};
      if (!answered && std::search(seen_.begin(), seen_.end(), subnegotiation.begin(),
                                   subnegotiation.end()) != seen_.end()) {
        ::send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
        answered = true;
      }
    }
    ::close(client);
  }

  Bytes greeting_;
  Bytes answer_;
  bool close_;
  Bytes seen_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

Bytes ComPort(std::uint8_t code, const Bytes& value) {
  Bytes wire = {IAC, SB, 44, code};
  for (const std::uint8_t byte : value) wire.push_back(byte);
  wire.push_back(IAC);
  wire.push_back(SE);
  return wire;
}

Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Bytes kAgree = {IAC, DO, 0, IAC, WILL, 0, IAC, DO, 44};
const Bytes kConfirmed =
    Joined({ComPort(102, {8}), ComPort(103, {1}), ComPort(104, {1}), ComPort(105, {1})});

std::size_t CountOf(const Bytes& haystack, const Bytes& needle) {
  std::size_t count = 0;
  for (auto at = haystack.begin();
       (at = std::search(at, haystack.end(), needle.begin(), needle.end())) != haystack.end();
       ++at) {
    ++count;
  }
  return count;
}

// Options the client does not have are refused as Telnet says: DO with WONT, WILL with DONT, each
// once however often the server asks.
TEST(NetworkPort, AServersRequestForAnOptionWeLackIsRefused) {
  constexpr std::uint8_t kTerminalType = 24, kEcho = 1;
  ScriptedServer server(Joined({kAgree,
                                {IAC, DO, kTerminalType, IAC, WILL, kEcho, IAC, DO, kTerminalType,
                                 IAC, WILL, kEcho}}),
                        Joined({ComPort(101, {0, 0, 0x4B, 0}), kConfirmed}), false);
  {
    TCommPort port;
    port.Reconfigure(19200, server.Url("rfc2217"), 1);
    EXPECT_TRUE(port.IsOpen());
  }
  const Bytes sent = server.Received();
  EXPECT_EQ(CountOf(sent, {IAC, WONT, kTerminalType}), 1u);
  EXPECT_EQ(CountOf(sent, {IAC, DONT, kEcho}), 1u);
  EXPECT_EQ(CountOf(sent, {IAC, DONT, kTerminalType}) + CountOf(sent, {IAC, WONT, kEcho}), 0u);
}

TEST(NetworkPort, WrongOrBrokenServersGiveAClearError) {
  struct Case {
    const char* what;
    Bytes greeting;
    Bytes answer;
    bool close;
    std::uint8_t code;
    const char* detail;
  };
  const Case cases[] = {
      {"refuses the option",
       {IAC, DONT, 44},
       {},
       false,
       ECommError::kOpen,
       "does not speak RFC 2217 (it refused COM-PORT-OPTION)"},
      {"is not Telnet",
       {'l', 'o', 'g', 'i', 'n', ':', ' '},
       {},
       false,
       ECommError::kOpen,
       "does not speak RFC 2217 (no answer to COM-PORT-OPTION within 3 s)"},
      {"refuses binary",
       {IAC, DO, 44, IAC, DONT, 0},
       {},
       false,
       ECommError::kOpen,
       "refused binary transmission"},
      {"keeps its own rate", kAgree, Joined({ComPort(101, {0, 0, 0x25, 0x80}), kConfirmed}), false,
       ECommError::kSetState, "refused SET-BAUDRATE 19200 (it answered 00 00 25 80)"},
      {"drives DTR", kAgree, Joined({ComPort(105, {8}), ComPort(101, {0, 0, 0x4B, 0}), kConfirmed}),
       false, ECommError::kSetState, "refused SET-CONTROL DTR off (it answered 08)"},
      {"hangs up",
       {},
       {},
       true,
       ECommError::kOpen,
       "the server closed the connection before agreeing"},
  };
  for (const Case& c : cases) {
    ScriptedServer server(c.greeting, c.answer, c.close);
    TCommPort port;
    try {
      port.Reconfigure(19200, server.Url("rfc2217"), 1);
      ADD_FAILURE() << c.what << ": opened";
    } catch (const ECommError& error) {
      EXPECT_EQ(error.Code, c.code) << c.what;
      EXPECT_NE(error.Describe().find(c.detail), std::string::npos)
          << c.what << ": " << error.Describe();
      EXPECT_NE(error.Describe().find(server.Url("rfc2217")), std::string::npos) << c.what;
    }
    EXPECT_FALSE(port.IsOpen());
  }

  // Nobody listening: the open names the address.
  int unused = 0;
  {
    ScriptedServer gone({}, {}, true);
    unused = std::stoi(gone.Url("socket").substr(std::string("socket://127.0.0.1:").size()));
  }
  TCommPort port;
  port.SetPortName("socket://127.0.0.1:" + std::to_string(unused));
  try {
    port.Open();
    ADD_FAILURE() << "opened a port nobody listens on";
  } catch (const ECommError& error) {
    EXPECT_EQ(error.Code, ECommError::kOpen);
    EXPECT_NE(error.Describe().find("cannot connect to 127.0.0.1:"), std::string::npos);
  }
  ASSERT_EQ(port.Unreachable().size(), 1u);
}

// A raw socket whose server goes away: what came before the loss is still read, then the port
// fails as a pulled adapter does.
TEST(NetworkPort, ALostConnectionFailsTheNextOperationAfterTheDataThatCame) {
  ScriptedServer server({0x81, 0x06, 0x18, 0x03}, {}, true);
  TCommPort port;
  port.Reconfigure(19200, server.Url("socket"), 1);
  ASSERT_TRUE(port.WaitForInput(2000));
  Bytes got;
  while (got.size() < 4 && port.WaitForInput(2000)) {
    for (std::uint32_t n = port.InQueue(); n > 0; --n) got.push_back(port.ReadByte());
  }
  EXPECT_EQ(got, (Bytes{0x81, 0x06, 0x18, 0x03}));
  EXPECT_FALSE(port.WaitForInput(20));
  try {
    port.InQueue();
    ADD_FAILURE() << "a lost connection still reports a queue";
  } catch (const ECommError& error) {
    EXPECT_EQ(error.Code, ECommError::kInQueue);
    EXPECT_NE(error.Describe().find("the server closed the connection"), std::string::npos);
  }
}

}  // namespace
}  // namespace tuva
