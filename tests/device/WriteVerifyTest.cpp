// Write and Verify end to end: the real port on a pseudo-terminal, the simulated board on the
// other side, and the board's frame log to check what went over the wire.
#include "device/DeviceTest.h"
#include "device/Operations.h"
#include "device/ReadInto.h"

namespace tuva::testing {
namespace {

using sim::SimContents;
using sim::SimOptions;

class WriteTest : public DeviceTest {
 protected:
  // An image that differs from what the simulated board starts with, in both write blocks.
  static void Edit(ConfigImage& image) {
    image.setByte(6, 42);
    image.setByte(3000, 0x5A);
  }
  std::vector<std::uint8_t> Stored(const ConfigImage& image) {
    return {image.storage().begin(), image.storage().end()};
  }
  void ExpectEndedCleanly(Session& session) {
    EXPECT_EQ(ui().status(), " Ready");
    EXPECT_EQ(ui().progress, 0);
    EXPECT_TRUE(ui().writeEnabled);
    EXPECT_FALSE(session.link.port.IsOpen());
  }
};

TEST_F(WriteTest, BothCopiesGoodWritesCopyOneFirst) {
  Session& session = Connect();
  Edit(session.document.image);
  bool writeDisabledWhileRunning = false;
  ui().onStatus = [&](const std::string& text) {
    if (text == " Erase ......") writeDisabledWhileRunning = !ui().writeEnabled;
  };
  ASSERT_TRUE(WriteConfiguration(session.link, session.document).Done());

  EXPECT_EQ(Requests(), Concat(Concat(kWritePreamble, CopyWrite(1)), CopyWrite(0)));
  // Both copies hold the sealed image and the four bytes the second block carries past it.
  EXPECT_TRUE(TrailerWellFormed(session.document.image.bytes().subspan(kSumOffset)));
  EXPECT_EQ(BoardCopy(1, kImageStorageSize), Stored(session.document.image));
  EXPECT_EQ(BoardCopy(0, kImageStorageSize), Stored(session.document.image));
  EXPECT_EQ(ui().messages, std::vector<std::string>{"Transmit Success!"});
  EXPECT_EQ(ui().statuses, (std::vector<std::string>{
                               " Verify ......", " Erase ......", " Write ......", " Read ......",
                               " Waiting ......", " Waiting ......", " Waiting ......", " Ready"}));
  EXPECT_TRUE(ui().questions.empty());
  EXPECT_TRUE(writeDisabledWhileRunning);
  ExpectEndedCleanly(session);
}

TEST_F(WriteTest, OnlyCopyOneGoodWritesCopyZeroFirst) {
  Session& session = Connect({.contents = SimContents::Copy1Only});
  Edit(session.document.image);
  ASSERT_TRUE(WriteConfiguration(session.link, session.document).Done());
  EXPECT_EQ(Requests(), Concat(Concat(kWritePreamble, CopyWrite(0)), CopyWrite(1)));
  EXPECT_EQ(BoardCopy(0, kImageStorageSize), Stored(session.document.image));
  EXPECT_EQ(BoardCopy(1, kImageStorageSize), Stored(session.document.image));
}

TEST_F(WriteTest, ErasedBoardAsksAndYesWritesCopyOneFirst) {
  Session& session = Connect({.contents = SimContents::Erased});
  ui().answers = {true};
  ASSERT_TRUE(WriteConfiguration(session.link, session.document).Done());
  ASSERT_EQ(ui().questions.size(), 1u);
  EXPECT_EQ(ui().questions[0].caption, "Version");
  EXPECT_EQ(ui().questions[0].text, "The program data is wrong ! Are you sure to overwrite ?");
  EXPECT_EQ(Requests(), Concat(Concat(kWritePreamble, CopyWrite(1)), CopyWrite(0)));
  EXPECT_EQ(ui().lastMessage(), "Transmit Success!");
}

TEST_F(WriteTest, ErasedBoardAndNoTouchesNothing) {
  Session& session = Connect({.contents = SimContents::Erased});
  ui().answers = {false};
  EXPECT_FALSE(WriteConfiguration(session.link, session.document).Done());
  EXPECT_EQ(ui().questions.size(), 1u);
  EXPECT_EQ(Requests(), kWritePreamble);
  EXPECT_TRUE(ui().messages.empty());
  EXPECT_EQ(BoardCopy(0), std::vector<std::uint8_t>(kImageSize, 0xFF));
  ExpectEndedCleanly(session);
}

TEST_F(WriteTest, PocsagFirmwareIsRefused) {
  Session& session = Connect({.pocsagFirmware = true});
  const auto before = BoardCopy(0);
  Edit(session.document.image);
  EXPECT_FALSE(WriteConfiguration(session.link, session.document).Done());
  EXPECT_EQ(ui().messages, std::vector<std::string>{"The firmware is not FLEX ! "});
  EXPECT_EQ(Requests(), kWritePreamble);
  EXPECT_EQ(BoardCopy(0), before);
  ExpectEndedCleanly(session);
}

// A board that stores one byte other than it was sent, in the data or in the six sum bytes: the
// read-back of the first copy catches it, and the other copy is never touched.
TEST_F(WriteTest, AWrongByteStoredStopsTheWriteBeforeTheSecondCopy) {
  for (const std::size_t offset : {std::size_t{6}, std::size_t{4094}, std::size_t{4099}}) {
    SCOPED_TRACE(offset);
    // Copy 1 goes first; its first write command carries bytes 0.., its second 2050...
    const sim::CorruptWrite fault =
        offset < 2050 ? sim::CorruptWrite{1, offset} : sim::CorruptWrite{2, offset - 2050};
    Session& session = Connect({.corruptWrite = fault});
    const auto copy0 = BoardCopy(0, kImageStorageSize);
    Edit(session.document.image);
    EXPECT_FALSE(WriteConfiguration(session.link, session.document).Done());
    EXPECT_EQ(Requests(), Concat(kWritePreamble, CopyWrite(1)));
    EXPECT_EQ(BoardCopy(1)[offset], session.document.image.byte(offset) ^ 0xFF);
    EXPECT_EQ(BoardCopy(0, kImageStorageSize), copy0);
    EXPECT_EQ(ui().messages,
              std::vector<std::string>{"Verify Error! Htag = " +
                                       std::to_string(unsigned{session.link.protocol.sequence()})});
    EXPECT_TRUE(ui().writeEnabled);
    EXPECT_FALSE(session.link.port.IsOpen());
  }
}

TEST_F(WriteTest, VerifySucceedsAfterWriteAndFailsAfterAnEdit) {
  Session& session = Connect();
  Edit(session.document.image);
  ASSERT_TRUE(WriteConfiguration(session.link, session.document).Done());

  std::size_t first = board().Requests().size();
  EXPECT_TRUE(VerifyConfiguration(session.link, session.document).Done());
  EXPECT_EQ(Requests(first), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0x88000 4096"}));
  EXPECT_EQ(ui().lastMessage(), "Verify Success!");
  ExpectEndedCleanly(session);

  session.document.image.setByte(
      1234, static_cast<std::uint8_t>(session.document.image.byte(1234) ^ 0x10));
  first = board().Requests().size();
  EXPECT_FALSE(VerifyConfiguration(session.link, session.document).Done());
  EXPECT_EQ(Requests(first).size(), 2u);  // nothing written
  EXPECT_EQ(ui().lastMessage(),
            "Verify Error! Htag = " + std::to_string(unsigned{session.link.protocol.sequence()}));
  EXPECT_GE(session.link.protocol.sequence(), 0x80);
  EXPECT_LE(session.link.protocol.sequence(), 0xFE);
  EXPECT_TRUE(ui().writeEnabled);
  EXPECT_FALSE(session.link.port.IsOpen());
}

TEST_F(WriteTest, AdapterPulledOutIsReportedAndThePortClosed) {
  Session& session = Connect();
  Edit(session.document.image);
  // The adapter goes the moment the first block is about to be sent.
  ui().onStatus = [&](const std::string& text) {
    if (text == " Write ......") board().Stop();
  };
  EXPECT_FALSE(WriteConfiguration(session.link, session.document).Done());
  ASSERT_EQ(ui().boxes.size(), 1u);
  EXPECT_EQ(ui().boxes[0].caption, "FVantel");
  EXPECT_EQ(ui().boxes[0].icon, MessageIcon::Error);
  EXPECT_NE(ui().boxes[0].text.find(BoardPath()), std::string::npos) << ui().boxes[0].text;
  EXPECT_EQ(ui().messages.size(), 1u);
  EXPECT_EQ(Requests(), Concat(kWritePreamble, {"EraseBlock 0xA8000 0", "EraseBlock 0xB0000 0"}));
  ExpectEndedCleanly(session);
}

// What an operation came to is a value its callers decide on: the kind, and what it learned of the
// board on the way (the firmware line, which copies were good, where a block differed).
TEST_F(WriteTest, EachOperationReturnsHowItEndedAndWhatItLearned) {
  const auto write = [](Session& session) {
    return WriteConfiguration(session.link, session.document);
  };
  const auto verifyEdited = [](Session& session) {
    WriteTest::Edit(session.document.image);
    return VerifyConfiguration(session.link, session.document);
  };
  const auto read = [](Session& session) {
    return ReadConfigurationInto(session.link, session.document, session.document.image);
  };
  using K = OutcomeKind;
  const std::string flex = "Model : FLEX    Version = 2.41";
  const std::string pocsag = "Model : POCSAG  Version = 1.20";
  const struct {
    const char* name;
    SimOptions board;
    std::function<Outcome(Session&)> operation;
    OutcomeKind kind;
    std::string firmwareLine;
    unsigned goodCopies;
    std::uint32_t address;
  } rows[] = {
      {"written", {}, write, K::Done, flex, 3, 0},
      {"only copy 1 good", {.contents = SimContents::Copy1Only}, write, K::Done, flex, 2, 0},
      {"erased, No", {.contents = SimContents::Erased}, write, K::Declined, flex, 0, 0},
      {"POCSAG", {.pocsagFirmware = true}, write, K::NotFlex, pocsag, 3, 0},
      {"copy 1 stored wrong", {.corruptWrite = {{1, 7}}}, write, K::BlockDiffers, flex, 3, 0xA8000},
      {"refused", {.refuseWrite = true}, write, K::TransmitError, flex, 3, 0},
      {"no board", {.silent = true}, write, K::BoardNotFound, "", 0, 0},
      {"verify differs", {}, verifyEdited, K::BlockDiffers, "", 0, 0x88000},
      {"read, no password", {.readPassword = "secret"}, read, K::PasswordRefused, "", 0, 0},
      {"read, erased", {.contents = SimContents::Erased}, read, K::TrailerNotWellFormed, "", 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Session& session = Connect(row.board);
    const Outcome outcome = row.operation(session);
    EXPECT_EQ(outcome.kind, row.kind);
    EXPECT_EQ(outcome.firmwareLine, row.firmwareLine);
    EXPECT_EQ(outcome.goodCopies, row.goodCopies);
    EXPECT_EQ(outcome.address, row.address);
    EXPECT_EQ(outcome.bytesMoved > 0, row.kind != OutcomeKind::BoardNotFound);
  }
}

}  // namespace
}  // namespace tuva::testing
