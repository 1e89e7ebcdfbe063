// The acknowledgement wait: whatever arrives, a command counts as acknowledged only when four
// bytes came and the second is 0x06; anything else leaves the link error flag set.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "LinkFuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto& h = tuva::fuzz::Harness();
  const std::size_t length = std::min<std::size_t>(size, 64);
  h.Feed({data, length});
  h.protocol.probe = length > 0 && (data[0] & 0x80);  // both waits, the probe's and the normal
  const bool arrived = h.protocol.SendCommand(tuva::kConfigBase, 0, tuva::kEraseBlock,
                                              tuva::ArgumentOf(tuva::kEraseBlock), 0);
  if (arrived != (length >= 4)) std::abort();
  const bool accepted = arrived && data[1] == 0x06;
  if (h.protocol.linkError == accepted) std::abort();
  return 0;
}
