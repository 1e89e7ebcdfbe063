// The simulated board's frame parser: whatever the line carries, the board never reads or writes
// outside its buffers, and everything it sends back is a whole answer ended by ETX.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/SimBoard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tuva::sim::SimOptions options{};
  tuva::sim::SimBoard board(options);
  std::vector<std::uint8_t> reply;
  for (std::size_t i = 0; i < size; ++i) {
    reply.clear();
    board.Receive(data[i], reply);
    if (!reply.empty() && reply.back() != 0x03) std::abort();
    // Only an ETX from the programmer ends a frame, so only then may the board answer.
    if (!reply.empty() && data[i] != 0x03) std::abort();
  }
  return 0;
}
