// Frames, stuffing and unstuffing as byte functions.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/Protocol.h"

namespace tuva {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Frame, StuffingEscapesEtxAndEscapeOnlyAndUnescapeUndoesIt) {
  const Bytes frame = {0x02, 0x03, 0x1B, 0xFC, 0xE4, 0x00, 0x03};
  const Bytes wire = StuffFrame(frame);
  EXPECT_EQ(wire, (Bytes{0x02, 0x1B, 0xFC, 0x1B, 0xE4, 0xFC, 0xE4, 0x00, 0x1B, 0xFC, 0x03}));

  Bytes back(wire.begin(), wire.end() - 1);  // without the ETX
  back.resize(Unescape(back.data(), back.size()));
  EXPECT_EQ(back, frame);
}

TEST(Frame, ReadBlockOf4100CarriesLength4110AndNoPayload) {
  const Bytes frame = BuildFrame(0x90, kReadBlock, ArgumentOf(kReadBlock), 0x88000, 4100, {});
  ASSERT_EQ(frame.size(), 26u);
  EXPECT_EQ(frame[2], 0x0E);
  EXPECT_EQ(frame[3], 0x10);
  EXPECT_EQ(frame[22], 0x04);  // data length 4100, little-endian
  EXPECT_EQ(frame[23], 0x10);
  // Address 0x088000 and its complement 0xF77FFF, both little-endian.
  EXPECT_EQ(Bytes(frame.begin() + 16, frame.begin() + 22),
            (Bytes{0x00, 0x80, 0x08, 0xFF, 0x7F, 0xF7}));
}

TEST(Frame, AChecksumByteOfEtxOrEscapeIsStuffedLikeAnyOther) {
  // Every payload byte value moves the checksum by one, so its low byte takes both special values.
  int stuffedChecksums = 0;
  for (unsigned value = 0; value < 256; ++value) {
    const Bytes payload = {static_cast<std::uint8_t>(value)};
    const Bytes frame = BuildFrame(0x81, kWriteBlock, ArgumentOf(kWriteBlock), 0xE0000, 1, payload);
    const Bytes wire = StuffFrame(frame);
    EXPECT_EQ(std::count(wire.begin(), wire.end() - 1, 0x03), 0) << "payload " << value;
    Bytes back(wire.begin(), wire.end() - 1);
    back.resize(Unescape(back.data(), back.size()));
    EXPECT_EQ(back, frame);
    if (frame[25] == 0x03 || frame[25] == 0x1B) {
      ++stuffedChecksums;
      // The sum is stuffed, the length field still counts the unstuffed data.
      EXPECT_EQ(wire[wire.size() - 4], 0x1B);
      EXPECT_EQ(wire[wire.size() - 3], static_cast<std::uint8_t>(~frame[25]));
      EXPECT_EQ(frame[2], 11);
    }
  }
  EXPECT_EQ(stuffedChecksums, 2);
}

}  // namespace
}  // namespace tuva
