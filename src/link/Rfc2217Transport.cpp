// A board behind a serial server that speaks RFC 2217 (rfc2217://HOST:PORT): Telnet in binary mode
// both ways, and the COM-PORT-OPTION commands that set the server's serial line as the local port
// sets its own: 19200 baud 8N1, no flow control, RTS on, DTR off.
#include <cerrno>
#include <string>

#include "link/Rfc2217Reader.h"
#include "link/SocketTransport.h"

namespace tuva {

namespace {

using namespace telnet;

constexpr std::chrono::milliseconds kConnectTimeout{5000};
// How long the server has to agree to the options and to answer the line settings.
constexpr std::chrono::milliseconds kNegotiationTimeout{3000};
// How long the server has to confirm a purge before we go on without the confirmation.
constexpr std::chrono::milliseconds kPurgeTimeout{1000};

// SET-CONTROL values.
constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kDtrOff = 9;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kPurgeBoth = 3;

struct Setting {
  std::uint8_t command;
  std::vector<std::uint8_t> value;
  std::string text;  // for messages, e.g. "SET-PARITY none"
  bool modemLine;    // RTS or DTR: a server line without modem lines leaves it unanswered
};

// The modem lines first: a server with no modem lines does not answer them, and their answers,
// when they come, are then in before those of the settings every line has.
std::vector<Setting> SettingsFor(const LineSettings& line) {
  const std::uint32_t baud = line.baud;
  static const char* const kParityNames[] = {"none", "odd", "even"};
  const std::uint8_t parity = line.parity > 2 ? 0 : line.parity;
  return {
      {kSetControl, {kRtsOn}, "SET-CONTROL RTS on", true},
      {kSetControl, {kDtrOff}, "SET-CONTROL DTR off", true},
      {kSetBaudRate,
       {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
        static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)},
       "SET-BAUDRATE " + std::to_string(baud),
       false},
      {kSetDataSize, {line.byteSize}, "SET-DATASIZE " + std::to_string(line.byteSize), false},
      // Parity on the wire: 1 none, 2 odd, 3 even.
      {kSetParity,
       {static_cast<std::uint8_t>(parity + 1)},
       std::string("SET-PARITY ") + kParityNames[parity],
       false},
      {kSetStopSize,
       {static_cast<std::uint8_t>(line.stopBits == 2 ? 2 : 1)},
       std::string("SET-STOPSIZE ") + (line.stopBits == 2 ? "2" : "1"),
       false},
      {kSetControl, {kNoFlowControl}, "SET-CONTROL no flow control", false},
  };
}

// SET-CONTROL values come in groups (flow control 1..3, DTR 8..10, RTS 11..13); an answer belongs
// to the request of its group.
int ControlGroup(std::uint8_t value) {
  if (value >= 1 && value <= 3) return 1;
  if (value >= 8 && value <= 10) return 2;
  if (value >= 11 && value <= 13) return 3;
  return 0;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

class Rfc2217Transport : public SocketTransport {
 public:
  using SocketTransport::SocketTransport;

  // Agrees the options, then sets the line; raises kOpen when the server does not speak RFC 2217.
  void Negotiate(const LineSettings& line) {
    const std::uint8_t offer[] = {kIac, kWill, kBinary,          kIac, kDo, kBinary,
                                  kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead,
                                  kIac, kWill, kComPort};
    SendAll(offer, sizeof offer);
    const auto deadline = Clock::now() + kNegotiationTimeout;
    while (!(comPortAgreed_ && binaryOut_ && binaryIn_)) {
      RequireOptions(ECommError::kOpen);
      if (Lost()) RaiseRefused();
      if (!Receive(deadline) && Clock::now() >= deadline) {
        std::string detail = name() + ": the server does not speak RFC 2217 (";
        detail +=
            comPortAgreed_ ? "binary transmission was not agreed" : "no answer to COM-PORT-OPTION";
        detail += " within 3 s)";
        RaiseCommError(ECommError::kOpen, ETIMEDOUT, detail);
      }
    }
    RequireOptions(ECommError::kOpen);
    Apply(line, ECommError::kSetState);
  }

  void Apply(const LineSettings& line, std::uint8_t failCode) override {
    const std::vector<Setting> settings = SettingsFor(line);
    answers_.clear();
    for (const Setting& setting : settings) SendComPort(setting.command, setting.value);
    const auto deadline = Clock::now() + kNegotiationTimeout;
    // Every line answers its own settings; the modem lines' answers are checked once those are in.
    for (const bool modemLines : {false, true}) {
      for (const Setting& setting : settings) {
        if (setting.modemLine == modemLines) Check(setting, deadline, failCode);
      }
    }
  }

  void Write(const std::uint8_t* data, std::uint32_t count) override {
    // The board's data is binary: every 0xFF goes as IAC IAC.
    std::vector<std::uint8_t> wire;
    wire.reserve(count + count / 8 + 1);
    for (std::uint32_t i = 0; i < count; ++i) {
      wire.push_back(data[i]);
      if (data[i] == kIac) wire.push_back(kIac);
    }
    SendAll(wire.data(), wire.size());
  }

  // The server empties its serial port's queues; what it sent us before its confirmation is old
  // and is dropped with what we already hold.
  void Purge() override {
    DropInput();
    const std::vector<std::uint8_t> both = {kPurgeBoth};
    try {
      SendComPort(kPurgeData, both);
    } catch (const ECommError& error) {
      RaiseCommError(ECommError::kPurge, static_cast<int>(error.SystemError), error.Detail);
    }
    ++purgesPending_;
    const auto deadline = Clock::now() + kPurgeTimeout;
    while (purgesPending_ > 0 && !Lost()) {
      if (!Receive(deadline) && Clock::now() >= deadline) break;
    }
    // Unconfirmed: a late confirmation must not drop the board's answer to the next command.
    purgesPending_ = 0;
    if (Lost()) RaiseLost(ECommError::kPurge);
  }

 protected:
  void Decode(std::span<const std::uint8_t> bytes) override {
    data_.clear();
    events_.clear();
    reader_.Feed(bytes, data_, events_);
    std::size_t stored = 0;
    for (const TelnetEvent& event : events_) {
      for (; stored < event.dataBefore; ++stored) StoreData(data_[stored]);
      Handle(event);
    }
    for (; stored < data_.size(); ++stored) StoreData(data_[stored]);
  }

 private:
  void Handle(const TelnetEvent& event) {
    switch (event.kind) {
      case TelnetEvent::Kind::Do:
        // Our offers being accepted; anything else we do not do.
        if (event.code == kComPort)
          comPortAgreed_ = true;
        else if (event.code == kBinary)
          binaryOut_ = true;
        else if (event.code != kSuppressGoAhead)
          Reply(kWont, event.code);
        break;
      case TelnetEvent::Kind::Dont:
        if (event.code == kComPort) comPortRefused_ = true;
        if (event.code == kBinary) binaryRefused_ = true;
        break;
      case TelnetEvent::Kind::Will:
        if (event.code == kBinary)
          binaryIn_ = true;
        else if (event.code != kSuppressGoAhead)
          Reply(kDont, event.code);
        break;
      case TelnetEvent::Kind::Wont:
        if (event.code == kBinary) binaryRefused_ = true;
        break;
      case TelnetEvent::Kind::ComPort:
        if (event.code == kPurgeData + kServerOffset && purgesPending_ > 0) {
          --purgesPending_;
          DropInput();
        } else if (event.code > kServerOffset && event.code <= kSetControl + kServerOffset &&
                   answers_.size() < 16) {
          answers_.emplace_back(event.code, event.value);
        }
        break;
    }
  }

  // A refusal is answered once; the server's repeated requests are not (no negotiation loops).
  void Reply(std::uint8_t verb, std::uint8_t option) {
    if (refusedOnce_[option]) return;
    refusedOnce_[option] = true;
    const std::uint8_t reply[] = {kIac, verb, option};
    SendAll(reply, sizeof reply);
  }

  // A server that hangs up before agreeing often says why first ("port already in use").
  [[noreturn]] void RaiseRefused() {
    std::string said;
    while (Buffered() > 0 && said.size() < 80) {
      const char c = static_cast<char>(ReadByte());
      if (c >= ' ' && c <= '~') said += c;
    }
    if (said.empty()) {
      RaiseCommError(ECommError::kOpen, ECONNRESET,
                     name() +
                         ": the server closed the connection before agreeing to RFC 2217 (is "
                         "another program connected to that port?)");
    }
    RaiseCommError(ECommError::kOpen, ECONNRESET,
                   name() + ": the server closed the connection, saying \"" + said + "\"");
  }

  void RequireOptions(std::uint8_t failCode) const {
    if (comPortRefused_) {
      RaiseCommError(failCode, EPROTONOSUPPORT,
                     name() + ": the server does not speak RFC 2217 (it refused COM-PORT-OPTION)");
    }
    if (binaryRefused_) {
      RaiseCommError(failCode, EPROTONOSUPPORT,
                     name() + ": the server refused binary transmission");
    }
  }

  void SendComPort(std::uint8_t command, const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> wire = {kIac, kSb, kComPort, command};
    for (const std::uint8_t byte : value) {
      wire.push_back(byte);
      if (byte == kIac) wire.push_back(kIac);
    }
    wire.push_back(kIac);
    wire.push_back(kSe);
    SendAll(wire.data(), wire.size());
  }

  // Waits for the answer to a setting (not for a modem line's) and compares it with the request.
  void Check(const Setting& setting, Clock::time_point deadline, std::uint8_t failCode) {
    const std::vector<std::uint8_t>* answer = nullptr;
    while (!(answer = AnswerTo(setting)) && !setting.modemLine) {
      if (Lost()) RaiseLost(failCode);
      if (!Receive(deadline) && Clock::now() >= deadline) {
        RaiseCommError(failCode, ETIMEDOUT,
                       name() + ": the server did not confirm " + setting.text);
      }
    }
    if (answer && *answer != setting.value) {
      RaiseCommError(failCode, EINVAL,
                     name() + ": the server refused " + setting.text + " (it answered " +
                         (answer->empty() ? std::string("nothing") : Hex(*answer)) + ")");
    }
  }

  // The server's answer to `setting` among those received, or nullptr.
  const std::vector<std::uint8_t>* AnswerTo(const Setting& setting) const {
    const std::uint8_t code = setting.command + kServerOffset;
    for (const auto& [answerCode, value] : answers_) {
      if (answerCode != code) continue;
      if (code == kSetControl + kServerOffset &&
          (value.size() != 1 || ControlGroup(value[0]) != ControlGroup(setting.value[0]))) {
        continue;
      }
      return &value;
    }
    return nullptr;
  }

  Rfc2217Reader reader_;
  std::vector<std::uint8_t> data_;
  std::vector<TelnetEvent> events_;
  std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>>
      answers_;  // settings' answers, at most 16
  bool comPortAgreed_ = false;
  bool comPortRefused_ = false;
  bool binaryOut_ = false;
  bool binaryIn_ = false;
  bool binaryRefused_ = false;
  bool refusedOnce_[256] = {};
  int purgesPending_ = 0;
};

}  // namespace

std::unique_ptr<Transport> OpenRfc2217Transport(const NetworkPort& port, const LineSettings& line) {
  auto transport = std::make_unique<Rfc2217Transport>(ConnectTo(port, kConnectTimeout), port.Url());
  transport->Negotiate(line);
  return transport;
}

}  // namespace tuva
