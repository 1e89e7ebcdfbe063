// A document and a link on the real serial port object, talking over a pseudo-terminal to the
// simulated board, with a front end that records what the operations show.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/BoardLink.h"
#include "support/RecordingFrontend.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {

// The recording front end, with hooks a test can use to act in the middle of an operation (pull
// the adapter out when a status text appears).
class HookedFrontend : public RecordingFrontend {
 public:
  void SetStatus(Status status) override {
    RecordingFrontend::SetStatus(status);
    if (onStatus) onStatus(StatusText(status));
  }
  void ImageLoaded() override {
    if (onImageLoaded) onImageLoaded();
  }
  std::function<void(const std::string&)> onStatus;
  std::function<void()> onImageLoaded;
};

// What a front end holds: the document and the link that sends from it.
struct Session {
  explicit Session(Frontend& frontend) : link(frontend, document) {}
  Document document;
  BoardLink link;
};

class DeviceTest : public SimBoardFixture {
 protected:
  // Powers a board up and makes a fresh session that finds it on its pseudo-terminal.
  Session& Connect(sim::SimOptions options = {}) {
    StartBoard(std::move(options));
    return NewSession();
  }
  Session& NewSession() {
    session_.reset();
    frontend_ = std::make_unique<HookedFrontend>();
    session_ = std::make_unique<Session>(*frontend_);
    session_->link.ports = {BoardPath()};
    return *session_;
  }
  HookedFrontend& ui() { return *frontend_; }

  // The requests the board received since `first`, one line each: "WriteBlock 0xA8802 2054".
  std::vector<std::string> Requests(std::size_t first = 0) {
    std::vector<std::string> lines;
    const auto requests = board().Requests();
    for (std::size_t i = first; i < requests.size(); ++i) {
      std::ostringstream line;
      line << requests[i].command << " 0x" << std::hex << std::uppercase << requests[i].address
           << std::dec << " " << requests[i].length;
      lines.push_back(line.str());
    }
    return lines;
  }

  std::vector<std::uint8_t> BoardCopy(int copy, std::size_t length = kImageSize) {
    return board().ReadFlash(0x88000 + static_cast<std::uint32_t>(copy) * 0x20000, length);
  }

  static std::vector<std::uint8_t> Data(const ConfigImage& image) {
    return {image.bytes().begin(), image.bytes().begin() + kImageDataSize};
  }

  // The requests of writing copy k: two erases, two overlapping blocks, one read-back.
  static std::vector<std::string> CopyWrite(int copy) {
    const char* lines[2][5] = {
        {"EraseBlock 0x88000 0", "EraseBlock 0x90000 0", "WriteBlock 0x88000 2054",
         "WriteBlock 0x88802 2054", "ReadBlock 0x88000 4100"},
        {"EraseBlock 0xA8000 0", "EraseBlock 0xB0000 0", "WriteBlock 0xA8000 2054",
         "WriteBlock 0xA8802 2054", "ReadBlock 0xA8000 4100"}};
    return {std::begin(lines[copy]), std::end(lines[copy])};
  }

  std::unique_ptr<HookedFrontend> frontend_;
  std::unique_ptr<Session> session_;
};

// Probe, firmware identification and both trailer checks: how every Write starts.
inline const std::vector<std::string> kWritePreamble = {
    "Probe 0x0 0", "ReadBlock 0xEFFE0 12", "ReadBlock 0x88FFE 6", "ReadBlock 0xA8FFE 6"};

inline std::vector<std::string> Concat(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace tuva::testing
