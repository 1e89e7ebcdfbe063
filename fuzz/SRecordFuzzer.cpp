// The S-record loader: whatever the text, nothing is read or written outside the firmware buffer
// (ASan watches the 65536 bytes), the two sum bytes always hold the sum of the rest, and loading
// the same text twice gives the same buffer. The check that decides whether a file may be
// programmed reads the same text by its records and must hold up as well: a file it accepts has
// data in the window.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/SRecordLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static tuva::FirmwareBuffer first;
  static tuva::FirmwareBuffer second;
  first.bytes.fill(0);  // whatever was there before, a load starts from erased flash
  tuva::LoadSRecordText(text, first);
  tuva::LoadSRecordText(text, second);
  if (first.bytes != second.bytes || first.loadedBytes != second.loadedBytes) std::abort();
  unsigned sum = 0;
  for (std::size_t i = 0; i + 2 < tuva::kFirmwareBufferSize; ++i) sum += first.bytes[i];
  if (first.bytes[0xFFFE] != (sum & 0xFF) || first.bytes[0xFFFF] != ((sum >> 8) & 0xFF)) {
    std::abort();
  }
  if (!tuva::CheckSRecordText(text) && first.loadedBytes == 0) std::abort();
  return 0;
}
