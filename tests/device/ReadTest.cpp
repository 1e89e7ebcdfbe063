// Read end to end against the simulated board: copy 0, the fall-back to copy 1 with the repair
// of copy 0, the refusal of two bad copies, and the board's read password.
#include "device/DeviceTest.h"
#include "device/OperationSupport.h"
#include "device/Operations.h"

namespace tuva::testing {
namespace {

using sim::SimContents;
using sim::SimOptions;

class ReadTest : public DeviceTest {
 protected:
  // A session whose image differs from the board's, so that a load shows; counts the front end's
  // refills and keeps the image each one saw.
  Session& Prepare(Session& session) {
    session.document.image.setByte(6, 99);
    for (std::size_t i = kSumOffset; i < kImageSize; ++i) session.document.image.setByte(i, 0x42);
    ui().onImageLoaded = [this, &session] {
      ++refreshes_;
      refilledFrom_ = session.document.image;
    };
    before_ = session.document.image;
    return session;
  }
  void ExpectUnchanged(Session& session) {
    EXPECT_EQ(session.document.image, before_);
    EXPECT_EQ(refreshes_, 0);
    EXPECT_FALSE(session.link.port.IsOpen());
  }
  void ExpectLoaded(Session& session, const std::vector<std::uint8_t>& data) {
    EXPECT_EQ(Data(session.document.image), data);
    // The sum and check bytes are left as they were until the next Write.
    for (std::size_t i = kSumOffset; i < kImageSize; ++i)
      EXPECT_EQ(session.document.image.byte(i), 0x42);
    EXPECT_EQ(refreshes_, 1);
    EXPECT_EQ(refilledFrom_, session.document.image);
    EXPECT_EQ(ui().lastMessage(), "Read Sucess!");
    EXPECT_EQ(ui().status(), " Ready");
    EXPECT_TRUE(ui().writeEnabled);
    EXPECT_FALSE(session.link.port.IsOpen());
  }

  ConfigImage before_;
  int refreshes_ = 0;
  ConfigImage refilledFrom_;
};

TEST_F(ReadTest, IntactCopyZeroIsOneRead) {
  Session& session = Prepare(Connect());
  ASSERT_TRUE(ReadConfiguration(session.link, session.document).Done());
  EXPECT_EQ(Requests(), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0x88000 4100"}));
  const auto copy0 = BoardCopy(0);
  ExpectLoaded(session, {copy0.begin(), copy0.begin() + kImageDataSize});
  EXPECT_TRUE(ui().textPrompts.empty());
  // The data now match the board although the sum bytes in memory were never refreshed.
  EXPECT_TRUE(VerifyConfiguration(session.link, session.document).Done());
}

// The repaired copy 0 is read back whole; one that does not hold what was written is said so
// after the read's own message, and the read (copy 1's data) is kept all the same.
TEST_F(ReadTest, CorruptCopyZeroIsRepairedFromCopyOneAndReadBack) {
  const std::vector<std::string> requests{"Probe 0x0 0",
                                          "ReadBlock 0x88000 4100",
                                          "ReadBlock 0xA8FFE 6",
                                          "ReadBlock 0xA8000 4096",
                                          "EraseBlock 0x88000 0",
                                          "EraseBlock 0x90000 0",
                                          "WriteBlock 0x88000 2054",
                                          "WriteBlock 0x88802 2054",
                                          "ReadBlock 0x88000 4100"};
  for (const bool storedWrong : {false, true}) {
    SCOPED_TRACE(storedWrong ? "a byte of copy 0 stored wrong" : "copy 0 stored right");
    SimOptions options{.contents = SimContents::Copy0Corrupted};
    if (storedWrong) options.corruptWrite = sim::CorruptWrite{1, 7};
    refreshes_ = 0;
    Session& session = Prepare(Connect(options));
    const auto copy1 = BoardCopy(1);
    const Outcome outcome = ReadConfiguration(session.link, session.document);
    ASSERT_TRUE(outcome.Done());
    EXPECT_EQ(outcome.copyZeroUnrepaired, storedWrong);
    EXPECT_EQ(Requests(), requests);
    EXPECT_EQ(BoardCopy(0) == copy1, !storedWrong);
    if (storedWrong) {
      EXPECT_EQ(ui().messages, (std::vector<std::string>{"Read Sucess!", kCopyZeroUnrepaired}));
      ui().messages.pop_back();
    } else {
      EXPECT_EQ(ui().messages, std::vector<std::string>{"Read Sucess!"});
    }
    ExpectLoaded(session, {copy1.begin(), copy1.begin() + kImageDataSize});
  }
}

TEST_F(ReadTest, BothCopiesBadLoadsNothing) {
  Session& session = Prepare(Connect({.contents = SimContents::Copy0Corrupted}));
  // Copy 1's data go bad too; its trailer stays well formed.
  board().WithBoard([](sim::SimBoard& board) {
    const std::uint8_t flipped = board.flash().At(0xA8000 + 0x321) ^ 0x01;
    board.flash().Place(0xA8000 + 0x321, std::vector<std::uint8_t>{flipped});
  });
  const auto copy0 = BoardCopy(0);
  EXPECT_FALSE(ReadConfiguration(session.link, session.document).Done());
  EXPECT_EQ(ui().messages, std::vector<std::string>{"Read Error!"});
  EXPECT_EQ(Requests(),
            (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0x88000 4100",
                                      "ReadBlock 0xA8FFE 6", "ReadBlock 0xA8000 4096"}));
  EXPECT_EQ(BoardCopy(0), copy0);
  ExpectUnchanged(session);
}

TEST_F(ReadTest, ReadPasswordIsAcceptedOnlyExactly) {
  StartBoard({.readPassword = "Ab1.2"});
  const std::optional<std::string> refused[] = {"aB1.2", "Ab1.", "Ab1.23", "", std::nullopt};
  for (const auto& typed : refused) {
    Session& session = Prepare(NewSession());
    ui().textAnswers = {typed};
    EXPECT_FALSE(ReadConfiguration(session.link, session.document).Done())
        << typed.value_or("(cancel)");
    ASSERT_EQ(ui().textPrompts.size(), 1u);
    EXPECT_EQ(ui().textPrompts[0].caption, "Check Read Password");
    EXPECT_EQ(ui().textPrompts[0].text, "Please Input Read Password");
    EXPECT_EQ(ui().lastMessage(), "Read Password Error !");
    EXPECT_TRUE(ui().writeEnabled);
    ExpectUnchanged(session);
    refreshes_ = 0;
  }
  Session& session = Prepare(NewSession());
  ui().textAnswers = {std::string("Ab1.2")};
  ASSERT_TRUE(ReadConfiguration(session.link, session.document).Done());
  const auto copy0 = BoardCopy(0);
  ExpectLoaded(session, {copy0.begin(), copy0.begin() + kImageDataSize});
}

TEST_F(ReadTest, AdapterPulledOutDuringTheRepairLeavesTheImageAlone) {
  Session& session = Prepare(Connect({.contents = SimContents::Copy0Corrupted}));
  ui().onStatus = [&](const std::string& text) {
    if (text == " Waiting ......") board().Stop();
  };
  EXPECT_FALSE(ReadConfiguration(session.link, session.document).Done());
  ASSERT_EQ(ui().boxes.size(), 1u);
  EXPECT_EQ(ui().boxes[0].caption, "FVantel");
  EXPECT_EQ(ui().status(), " Ready");
  EXPECT_EQ(ui().progress, 0);
  ExpectUnchanged(session);
}

TEST_F(ReadTest, NoBoardIsReportedAndNothingChanges) {
  Session& session = Prepare(Connect());
  session.link.ports = {"/dev/tuva-no-such-port"};
  EXPECT_FALSE(ReadConfiguration(session.link, session.document).Done());
  ASSERT_EQ(ui().messages.size(), 2u);
  // The port chosen is named first, with the reason it could not be opened.
  EXPECT_NE(ui().messages[0].find("/dev/tuva-no-such-port: no such device"), std::string::npos);
  EXPECT_EQ(ui().messages[1], "The target board is not found !");
  EXPECT_EQ(ui().statuses, (std::vector<std::string>{" Error", " Ready"}));
  ExpectUnchanged(session);
}

}  // namespace
}  // namespace tuva::testing
