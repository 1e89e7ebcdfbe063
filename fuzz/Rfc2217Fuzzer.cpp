// The reader of what an RFC 2217 server sends. Whatever arrives: no crash, no more data than bytes,
// no value longer than the limit, the same result however the bytes are split between reads, and
// line data with every 0xFF doubled comes back exactly, with no commands.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "link/Rfc2217Reader.h"

namespace {

struct Result {
  std::vector<std::uint8_t> data;
  std::vector<tuva::TelnetEvent> events;
};

Result Read(std::span<const std::uint8_t> bytes, std::size_t split) {
  tuva::Rfc2217Reader reader;
  Result result;
  std::vector<tuva::TelnetEvent> events;
  reader.Feed(bytes.first(split), result.data, result.events);
  reader.Feed(bytes.subspan(split), result.data, events);
  result.events.insert(result.events.end(), events.begin(), events.end());
  return result;
}

bool SameEvents(const std::vector<tuva::TelnetEvent>& a, const std::vector<tuva::TelnetEvent>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].code != b[i].code || a[i].value != b[i].value) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const Result whole = Read(bytes, 0);
  if (whole.data.size() > size || whole.events.size() > size / 2) std::abort();
  for (const auto& event : whole.events) {
    if (event.value.size() > tuva::Rfc2217Reader::kValueLimit) std::abort();
  }
  const Result split = Read(bytes, size / 3);
  if (split.data != whole.data || !SameEvents(split.events, whole.events)) std::abort();

  std::vector<std::uint8_t> doubled;
  for (const std::uint8_t byte : bytes) {
    doubled.push_back(byte);
    if (byte == 0xFF) doubled.push_back(byte);
  }
  const Result line = Read(doubled, doubled.size() / 2);
  if (line.data != std::vector<std::uint8_t>(bytes.begin(), bytes.end()) || !line.events.empty()) {
    std::abort();
  }
  return 0;
}
