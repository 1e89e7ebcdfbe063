// The programmer's side of a real pseudo-terminal for the link fuzzers: the bytes of an input are
// put on the line by the far end, and the protocol takes them through the same TCommPort code it
// uses with a board. Once every byte is waiting, polls need no interval: a fruitless poll then
// means the input is used up.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "image/ConfigImage.h"
#include "link/CommPort.h"
#include "link/Protocol.h"
#include "support/PtyPair.h"
#include "support/RecordingFrontend.h"

namespace tuva::fuzz {

// A pseudo-terminal holds a few kilobytes in flight; inputs are cut to what fits.
inline constexpr std::size_t kLineCapacity = 3800;

class LinkHarness {
 public:
  LinkHarness() : protocol(port, frontend, image, firmware) {
    port.Reconfigure(19200, pty.path(), 1);
    protocol.SetPollIntervals(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
  }

  // Puts the bytes on the line and waits until the programmer's side sees all of them.
  void Feed(std::span<const std::uint8_t> bytes) {
    port.Purge();
    pty.Drain(0);
    pty.Send(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    for (int tries = 0; port.InQueue() < bytes.size(); ++tries) {
      if (tries > 100000) std::abort();  // the line lost bytes
      port.WaitForInput(1);
    }
    protocol.linkError = false;
    protocol.probe = false;
    frontend.statuses.clear();
    frontend.messages.clear();
  }

  testing::PtyPair pty;
  TCommPort port;
  testing::RecordingFrontend frontend;
  ConfigImage image = ConfigImage::StartupImage();
  std::vector<std::uint8_t> firmware = std::vector<std::uint8_t>(kFirmwareSize, 0xFF);
  Protocol protocol;
};

inline LinkHarness& Harness() {
  static LinkHarness* harness = new LinkHarness();  // lives for the whole fuzzing run
  return *harness;
}

}  // namespace tuva::fuzz
