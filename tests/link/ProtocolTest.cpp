// The command protocol over real pseudo-terminals: against the simulated board where the board's
// behaviour matters, against a hand-played far end where exact bytes and broken replies matter.
#include <gtest/gtest.h>

#include <numeric>

#include "link/Protocol.h"
#include "support/PtyPair.h"
#include "support/RecordingFrontend.h"
#include "support/SimBoardFixture.h"

namespace tuva {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// The programmer's side of the line: image, firmware buffer, port and protocol.
struct Programmer {
  Programmer() {
    std::iota(firmware.begin(), firmware.end(), std::uint8_t{0x21});
    protocol.trace = [this](bool out, std::span<const std::uint8_t> bytes) {
      (out ? sent : received).emplace_back(bytes.begin(), bytes.end());
    };
  }
  void Open(const std::string& path) { port.Reconfigure(19200, path, 1); }
  bool Send(std::uint32_t address, std::uint16_t length, std::uint8_t command,
            std::uint16_t bank = 0) {
    return protocol.SendCommand(address, length, command, ArgumentOf(command), bank);
  }

  testing::RecordingFrontend frontend;
  ConfigImage image = ConfigImage::StartupImage();
  Bytes firmware = Bytes(kFirmwareSize);
  TCommPort port;
  Protocol protocol{port, frontend, image, firmware};
  std::vector<Bytes> sent;
  std::vector<Bytes> received;
};

const Bytes kAccepted = {0x81, 0x06, 0x18, 0x03};

TEST(Protocol, TheFirstProbeGoesOutExactlyAndTheAcknowledgementIsTakenRaw) {
  testing::PtyPair line;
  Programmer pc;
  pc.Open(line.path());
  line.Send(kAccepted);  // already waiting when the probe goes out

  EXPECT_TRUE(pc.Send(0, 0, kProbe));
  EXPECT_FALSE(pc.protocol.linkError);
  const Bytes probe = {0x02, 0x81, 0x0A, 0x00, 0x18, 0xE7, 0x54, 0x61, 0x72,
                       0x6E, 0x68, 0x6F, 0x6C, 0x6C, 0x6F, 0x77, 0x00, 0x00,
                       0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xB3, 0x08, 0x03};
  EXPECT_EQ(line.Drain(), probe);
  EXPECT_EQ(pc.frontend.progress, 27);  // the progress bar moves by the bytes written
  ASSERT_EQ(pc.received.size(), 1u);
  EXPECT_EQ(pc.received[0], kAccepted);
}

TEST(Protocol, PayloadBytesEtxAndEscapeAreStuffedButNotCounted) {
  testing::PtyPair line;
  Programmer pc;
  pc.Open(line.path());
  pc.image.setByte(0, 0x03);
  pc.image.setByte(1, 0x1B);
  line.Send(kAccepted);

  EXPECT_TRUE(pc.Send(kConfigBase, 2, kWriteBlock));
  const Bytes wire = line.Drain();
  ASSERT_EQ(wire.size(), 31u);  // 26 + 2 payload + 2 escapes + ETX
  EXPECT_EQ(wire[2], 12);       // the length field counts the data, not the escapes
  EXPECT_EQ(wire[3], 0);
  EXPECT_EQ(Bytes(wire.begin() + 24, wire.begin() + 28), (Bytes{0x1B, 0xFC, 0x1B, 0xE4}));
  EXPECT_EQ(pc.frontend.progress, 31);
}

TEST(Protocol, AnEtxAmongTheFirst14StoredBytesDoesNotEndAReply) {
  testing::PtyPair line;
  Programmer pc;
  pc.Open(line.path());
  line.Send({0x10, 0x11, 0x12, 0x13, 0x14, 0x03,                          // dropped: 5 stored
             0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x03,  // dropped: 14 stored
             0x30, 0x03});                                                // ends: 15 stored
  Bytes buffer(kSmallReplyBuffer);
  std::size_t count = 0;
  ASSERT_TRUE(pc.protocol.ReceiveReply(buffer, count));
  EXPECT_EQ(count, 15u);
  EXPECT_EQ(buffer[4], 0x14);
  EXPECT_EQ(buffer[5], 0x20);
  EXPECT_EQ(buffer[14], 0x30);
  EXPECT_EQ(pc.frontend.progress, 15);
}

TEST(Protocol, ASilentBoardIsGivenUpAfter101PollsOf50Ms) {
  testing::PtyPair line;
  Programmer pc;
  pc.Open(line.path());
  pc.protocol.progress.Step(100);

  EXPECT_FALSE(pc.Send(kConfigBase, 0, kEraseBlock));
  EXPECT_TRUE(pc.protocol.linkError);
  EXPECT_EQ(pc.frontend.eventPumps, kFruitlessPollLimit);
  // Quietly: the bars are reset, no message.
  EXPECT_EQ(pc.frontend.statuses, std::vector<std::string>{" Ready"});
  EXPECT_EQ(pc.frontend.progress, 0);
  EXPECT_TRUE(pc.frontend.messages.empty());
}

TEST(Protocol, AProbeThatTimesOutLeavesTheBarsAlone) {
  testing::PtyPair line;
  Programmer pc;
  pc.Open(line.path());
  pc.protocol.probe = true;  // at the real 3 ms probe interval

  EXPECT_FALSE(pc.Send(0, 0, kProbe));
  EXPECT_TRUE(pc.protocol.linkError);
  EXPECT_EQ(pc.frontend.eventPumps, kFruitlessPollLimit);
  EXPECT_TRUE(pc.frontend.statuses.empty());
  EXPECT_EQ(pc.frontend.progress, 27);
  EXPECT_TRUE(pc.frontend.messages.empty());
}

TEST(Protocol, AReplyThatStopsWithoutEtxIsATransmitError) {
  testing::PtyPair line;
  Programmer pc;
  pc.protocol.SetPollIntervals(2ms, 1ms);
  pc.Open(line.path());
  line.Send(Bytes(20, 0x41));

  Bytes buffer(kSmallReplyBuffer);
  std::size_t count = 0;
  EXPECT_FALSE(pc.protocol.ReceiveReply(buffer, count));
  EXPECT_TRUE(pc.protocol.linkError);
  EXPECT_EQ(pc.frontend.messages, std::vector<std::string>{"Transmit Error!"});
  EXPECT_EQ(pc.frontend.status(), " Ready");
  EXPECT_EQ(pc.frontend.progress, 0);
}

TEST(Protocol, AReplyLongerThanTheBufferFailsWithoutOverrun) {
  testing::PtyPair line;
  Programmer pc;
  pc.protocol.SetPollIntervals(2ms, 1ms);
  pc.Open(line.path());
  Bytes overlong(80, 0x41);
  overlong.push_back(0x03);
  line.Send(overlong);

  Bytes buffer(kSmallReplyBuffer);
  std::size_t count = 0;
  EXPECT_FALSE(pc.protocol.ReceiveReply(buffer, count));
  EXPECT_EQ(count, kSmallReplyBuffer);
  EXPECT_TRUE(pc.protocol.linkError);
  EXPECT_EQ(pc.frontend.messages, std::vector<std::string>{"Transmit Error!"});
  EXPECT_EQ(pc.frontend.progress, 0);
  EXPECT_EQ(pc.port.InQueue(), 0u);  // the rest of the reply was purged
  EXPECT_TRUE(pc.received.empty());
}

TEST(Protocol, NothingIsSentOrAwaitedOnAClosedPort) {
  Programmer pc;
  EXPECT_FALSE(pc.Send(0, 0, kProbe));
  EXPECT_TRUE(pc.protocol.linkError);
  pc.protocol.linkError = false;
  Bytes buffer(kSmallReplyBuffer);
  std::size_t count = 0;
  EXPECT_FALSE(pc.protocol.ReceiveReply(buffer, count));
  EXPECT_TRUE(pc.protocol.linkError);
  EXPECT_TRUE(pc.protocol.ReadData(kConfigTrailer, 6, kSmallReplyBuffer).empty());
}

class ProtocolWithBoard : public testing::SimBoardFixture {
 protected:
  void SetUp() override {
    StartBoard();
    pc.Open(BoardPath());
  }
  Programmer pc;
};

TEST_F(ProtocolWithBoard, SequenceNumbersRunFrom0x81To0xFEThen0x80) {
  for (int i = 0; i < 126; ++i) ASSERT_TRUE(pc.Send(0, 0, kProbe));
  EXPECT_EQ(pc.sent.front()[1], 0x81);
  EXPECT_EQ(pc.sent.back()[1], 0xFE);
  ASSERT_TRUE(pc.Send(0, 0, kProbe));
  EXPECT_EQ(pc.sent.back()[1], 0x80);
  EXPECT_EQ(pc.protocol.sequence(), 0x80);
  ASSERT_TRUE(pc.Send(0, 0, kProbe));
  EXPECT_EQ(pc.sent.back()[1], 0x81);
  EXPECT_FALSE(pc.protocol.linkError);
}

TEST_F(ProtocolWithBoard, ReadDataReturnsTheBoardsBytesFromReplyOffset14) {
  ConfigImage sealed = ConfigImage::StartupImage();
  sealed.Seal();
  const Bytes copy0 = pc.protocol.ReadData(kConfigBase, 4100, kLargeReplyBuffer);
  ASSERT_FALSE(pc.protocol.linkError);
  EXPECT_EQ(copy0, Bytes(sealed.bytes().begin(), sealed.bytes().end()));
  ASSERT_EQ(pc.sent.size(), 1u);
  EXPECT_EQ(pc.sent[0].size(), 27u);  // a read carries no payload
  EXPECT_EQ(pc.sent[0][2], 0x0E);
  EXPECT_EQ(pc.sent[0][3], 0x10);

  const Bytes id = pc.protocol.ReadData(kFirmwareVersion, 12, kSmallReplyBuffer);
  EXPECT_EQ(std::string(id.begin(), id.end()), "FLEX  V02.41");
}

TEST_F(ProtocolWithBoard, ARefusalSetsTheLinkErrorWhileSendCommandSucceeds) {
  StartBoard({.refuseErase = true});
  pc.port.Close();
  pc.Open(BoardPath());
  EXPECT_TRUE(pc.Send(kConfigBase, 0, kEraseBlock));
  EXPECT_TRUE(pc.protocol.linkError);
  ASSERT_EQ(pc.received.size(), 1u);
  EXPECT_EQ(pc.received[0][1], 0x15);
  EXPECT_TRUE(pc.frontend.statuses.empty());
}

TEST_F(ProtocolWithBoard, WriteBlockTakesItsPayloadFromTheMemoryItsAddressMirrors) {
  // Program memory: from the firmware buffer at address - 0xE0000.
  ASSERT_TRUE(pc.Send(kFirmwareBase, 0, kEraseBlock));
  ASSERT_TRUE(pc.Send(kFirmwareBase + 0x800, 2048, kWriteBlock));
  EXPECT_EQ(board().ReadFlash(kFirmwareBase + 0x800, 2048),
            Bytes(pc.firmware.begin() + 0x800, pc.firmware.begin() + 0x1000));

  // Copy 1: from the image storage, the four bytes past the image included.
  ASSERT_TRUE(pc.Send(kConfigBase + kCopyStride, 0, kEraseBlock, 1));
  ASSERT_TRUE(pc.Send(kConfigBase + kCopyStride + 2050, 2054, kWriteBlock, 1));
  const auto storage = pc.image.storage();
  EXPECT_EQ(board().ReadFlash(kConfigBase + kCopyStride + 2050, 2054),
            Bytes(storage.begin() + 2050, storage.end()));
  EXPECT_FALSE(pc.protocol.linkError);

  // Ranges that run past the memory are refused before anything is sent.
  const std::size_t framesBefore = board().Requests().size();
  const std::size_t sentBefore = pc.sent.size();
  const std::uint8_t sequence = pc.protocol.sequence();
  EXPECT_FALSE(pc.Send(kFirmwareBase + 0xF900, 2048, kWriteBlock));  // past the window
  EXPECT_FALSE(pc.Send(kConfigBase + 2051, 2054, kWriteBlock));      // past the storage
  EXPECT_FALSE(pc.Send(kConfigBase, 16, kWriteBlock, 1));            // below copy 1
  EXPECT_FALSE(pc.Send(kConfigBase + kCopyStride, 16, kWriteBlock, 0));
  EXPECT_TRUE(pc.protocol.linkError);
  EXPECT_EQ(pc.sent.size(), sentBefore);
  EXPECT_EQ(pc.protocol.sequence(), sequence);
  EXPECT_EQ(board().Requests().size(), framesBefore);
}

}  // namespace
}  // namespace tuva
