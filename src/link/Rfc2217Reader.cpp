#include "link/Rfc2217Reader.h"

namespace tuva {

void Rfc2217Reader::Command(std::uint8_t byte) {
  using namespace telnet;
  if (byte >= kWill) {
    verb_ = byte;
    state_ = State::Option;
  } else if (byte == kSb) {
    state_ = State::SbOption;
  } else {
    state_ = State::Data;  // NOP, GA, a stray SE and the like carry nothing for us
  }
}

void Rfc2217Reader::KeepValueByte(std::uint8_t byte) {
  if (sb_.size() < kValueLimit + 1) {
    sb_.push_back(byte);
  } else {
    sbTooLong_ = true;
  }
}

void Rfc2217Reader::Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& data,
                         std::vector<TelnetEvent>& events) {
  using namespace telnet;
  const std::size_t start = data.size();
  for (const std::uint8_t byte : bytes) {
    switch (state_) {
      case State::Data:
        if (byte == kIac) {
          state_ = State::Iac;
        } else {
          data.push_back(byte);
        }
        break;
      case State::Iac:
        if (byte == kIac) {
          data.push_back(byte);
          state_ = State::Data;
        } else {
          Command(byte);
        }
        break;
      case State::Option: {
        static constexpr TelnetEvent::Kind kKinds[] = {
            TelnetEvent::Kind::Will, TelnetEvent::Kind::Wont, TelnetEvent::Kind::Do,
            TelnetEvent::Kind::Dont};
        events.push_back({kKinds[verb_ - kWill], byte, {}, data.size() - start});
        state_ = State::Data;
        break;
      }
      case State::SbOption:
        sbOption_ = byte;
        sb_.clear();
        sbTooLong_ = false;
        state_ = State::Sb;
        break;
      case State::Sb:
        if (byte == kIac) {
          state_ = State::SbIac;
        } else {
          KeepValueByte(byte);
        }
        break;
      case State::SbIac:
        if (byte == kIac) {
          KeepValueByte(byte);
          state_ = State::Sb;
        } else if (byte == kSe) {
          EndSubnegotiation(data.size() - start, events);
          state_ = State::Data;
        } else {
          // IAC and a command inside a subnegotiation: the subnegotiation was broken off and the
          // command is taken as it stands.
          sb_.clear();
          Command(byte);
        }
        break;
    }
  }
}

void Rfc2217Reader::EndSubnegotiation(std::size_t dataBefore, std::vector<TelnetEvent>& events) {
  TelnetEvent event;
  event.kind = TelnetEvent::Kind::ComPort;
  event.dataBefore = dataBefore;
  // Only COM-PORT-OPTION subnegotiations that fit are of interest; the rest become an event with
  // code 0 that nobody waits for.
  if (sbOption_ == telnet::kComPort && !sbTooLong_ && !sb_.empty()) {
    event.code = sb_.front();
    event.value.assign(sb_.begin() + 1, sb_.end());
  }
  events.push_back(std::move(event));
  sb_.clear();
}

}  // namespace tuva
