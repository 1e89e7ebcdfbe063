// Reception and unstuffing of a data reply: whatever arrives, nothing is stored past the receive
// buffer, a reply counts as received only when an ETX ended it after the 14-byte header, and
// unstuffing never grows the data.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "LinkFuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  auto& h = tuva::fuzz::Harness();
  // The first byte picks the buffer: the configuration reads' or the short reads'.
  const std::size_t capacity = (data[0] & 1) ? tuva::kLargeReplyBuffer : tuva::kSmallReplyBuffer;
  const std::size_t length = std::min(size - 1, tuva::fuzz::kLineCapacity);
  h.Feed({data + 1, length});

  std::vector<std::uint8_t> buffer(capacity);  // exactly the capacity: ASan sees any overrun
  std::size_t count = 0;
  const bool received = h.protocol.ReceiveReply(buffer, count);
  if (count > capacity) std::abort();
  if (received == h.protocol.linkError) std::abort();
  if (received) {
    if (count < 15) std::abort();
    const auto etx = std::find(data + 1, data + 1 + length, 0x03);
    if (etx == data + 1 + length) std::abort();  // no ETX was sent, yet a reply was taken
  }
  const std::size_t unstuffed = tuva::Unescape(buffer.data(), count);
  if (unstuffed > count) std::abort();
  return 0;
}
