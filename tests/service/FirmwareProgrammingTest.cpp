// Firmware verify and program against the simulated board, with S-record files made by srec_cat.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "device/DeviceTest.h"
#include "service/FirmwareProgramming.h"

namespace tuva::testing {
namespace {

namespace fs = std::filesystem;
using sim::SimContents;

class FirmwareTest : public DeviceTest {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tuva-fw-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    DeviceTest::TearDown();
    fs::remove_all(dir_);
  }

  // An S-record file with random data in the given blocks of the firmware window, and the
  // identification text at 0xEFFE0 that every firmware carries.
  std::string FirmwareFile(const std::vector<std::size_t>& blocks) {
    std::mt19937 random(static_cast<unsigned>(blocks.size()));
    std::ostringstream command;
    command << SREC_CAT;
    const std::string identification = "FLEX  V02.50";
    const auto add = [&](const std::string& bytes, std::size_t address) {
      const fs::path binary = dir_ / ("at" + std::to_string(address) + ".bin");
      std::ofstream(binary, std::ios::binary) << bytes;
      command << " " << binary << " -binary -offset 0x" << std::hex << address << std::dec;
    };
    bool lastBlock = false;
    for (const std::size_t block : blocks) {
      std::string bytes(kFirmwareBlockSize, '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      lastBlock |= block == kFirmwareBlocks - 1;
      if (block == kFirmwareBlocks - 1) bytes.replace(0x7E0, identification.size(), identification);
      add(bytes, 0xE0000 + block * kFirmwareBlockSize);
    }
    if (!lastBlock) add(identification, 0xEFFE0);
    const fs::path records = dir_ / "firmware.s28";
    command << " -o " << records << " -motorola -address-length=3";
    EXPECT_EQ(std::system(command.str().c_str()), 0) << command.str();
    return records.string();
  }

  static std::string BlockRead(std::size_t block) {
    std::ostringstream line;
    line << "ReadBlock 0x" << std::hex << std::uppercase << 0xE0000 + block * kFirmwareBlockSize
         << " 2048";
    return line.str();
  }

  std::vector<std::uint8_t> BoardWindow() { return board().ReadFlash(0xE0000, 0x10000); }

  fs::path dir_;
};

const std::vector<std::string> kIdentification = {"Probe 0x0 0", "ReadBlock 0xEFFE0 12",
                                                  "ReadBlock 0x8884B 12"};

TEST_F(FirmwareTest, NothingHappensWithoutAFile) {
  Session& session = Connect();
  EXPECT_FALSE(VerifyFirmware(session.link, session.document).Done());
  EXPECT_FALSE(ProgramFirmware(session.link, session.document).Done());
  EXPECT_EQ(ui().messages,
            (std::vector<std::string>{"Please open file first !", "Please open file first !"}));
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(ui().statuses.empty());
}

TEST_F(FirmwareTest, ProgramWritesAndReadsTheNonBlankBlocksInOrder) {
  Session& session = Connect();
  ASSERT_TRUE(
      LoadFirmwareFile(session.link.frontend, session.document.firmware, FirmwareFile({31, 0})));
  ui().answers = {true};
  ASSERT_TRUE(ProgramFirmware(session.link, session.document).Done());
  EXPECT_EQ(Requests(),
            Concat(kIdentification, {"EraseBlock 0xE0000 0", "WriteBlock 0xE0000 2048",
                                     "WriteBlock 0xEF800 2048", BlockRead(0), BlockRead(31)}));
  EXPECT_EQ(BoardWindow(), std::vector<std::uint8_t>(session.document.firmware.bytes.begin(),
                                                     session.document.firmware.bytes.end()));
  EXPECT_EQ(ui().lastMessage(), "Transmit Success!");
  EXPECT_EQ(ui().progressMax, static_cast<int>(session.document.firmware.loadedBytes));
  EXPECT_EQ(ui().status(), " Ready");
  EXPECT_TRUE(ui().writeEnabled);
  EXPECT_FALSE(session.link.port.IsOpen());

  // Blank blocks of the file are not compared, whatever the board holds there.
  board().WithBoard([](sim::SimBoard& board) {
    board.flash().Place(0xE2800, std::vector<std::uint8_t>(16, 0x5A));
  });
  const std::size_t first = board().Requests().size();
  EXPECT_TRUE(VerifyFirmware(session.link, session.document).Done());
  EXPECT_EQ(Requests(first),
            (std::vector<std::string>{"Probe 0x0 0", BlockRead(0), BlockRead(31)}));
  EXPECT_EQ(ui().lastMessage(), "Verify Success!");
}

TEST_F(FirmwareTest, VerifyStopsAtTheFirstDifference) {
  Session& session = Connect();
  ASSERT_TRUE(LoadFirmwareFile(session.link.frontend, session.document.firmware,
                               FirmwareFile({0, 1, 2, 3, 4, 5})));
  ui().answers = {true};
  ASSERT_TRUE(ProgramFirmware(session.link, session.document).Done());
  board().WithBoard([](sim::SimBoard& board) {
    board.flash().Place(0xE1800 + 77, std::vector<std::uint8_t>{0x00});
  });
  const std::size_t first = board().Requests().size();
  EXPECT_FALSE(VerifyFirmware(session.link, session.document).Done());
  EXPECT_EQ(Requests(first), (std::vector<std::string>{"Probe 0x0 0", BlockRead(0), BlockRead(1),
                                                       BlockRead(2), BlockRead(3)}));
  EXPECT_EQ(ui().lastMessage(),
            "Verify Error! Htag = " + std::to_string(unsigned{session.link.protocol.sequence()}));
  EXPECT_EQ(ui().status(), " Read ......");
  EXPECT_TRUE(ui().writeEnabled);
  EXPECT_FALSE(session.link.port.IsOpen());
}

TEST_F(FirmwareTest, ProgrammingChecksTheBoardFirst) {
  const std::string file = FirmwareFile({0});
  {
    Session& session = Connect({.pocsagFirmware = true});
    ASSERT_TRUE(LoadFirmwareFile(session.link.frontend, session.document.firmware, file));
    ui().answers = {true};
    EXPECT_FALSE(ProgramFirmware(session.link, session.document).Done());
    EXPECT_EQ(ui().messages, std::vector<std::string>{"The firmware is not FLEX ! "});
    EXPECT_EQ(Requests(), kIdentification);
  }
  {
    // A board whose configuration does not identify as FLEX: asked, and No leaves it alone.
    Session& session = Connect({.contents = SimContents::Erased});
    const auto before = BoardWindow();
    ASSERT_TRUE(LoadFirmwareFile(session.link.frontend, session.document.firmware, file));
    ui().answers = {true, false};
    EXPECT_FALSE(ProgramFirmware(session.link, session.document).Done());
    ASSERT_EQ(ui().questions.size(), 2u);
    EXPECT_EQ(ui().questions[1].caption, "Version");
    EXPECT_EQ(Requests(), kIdentification);
    EXPECT_EQ(BoardWindow(), before);
    EXPECT_EQ(ui().status(), " Ready");
    EXPECT_FALSE(session.link.port.IsOpen());
  }
}

// The program form asks before it erases, and a file that is no firmware is refused before that;
// either way the board sees no frame.
TEST_F(FirmwareTest, NothingReachesTheBoardBeforeTheFileIsCheckedAndTheEraseConfirmed) {
  Session& session = Connect();
  const std::string file = FirmwareFile({0});
  ASSERT_TRUE(LoadFirmwareFile(session.link.frontend, session.document.firmware, file));
  EXPECT_FALSE(ProgramFirmware(session.link, session.document).Done());
  ASSERT_EQ(ui().questions.size(), 1u);
  EXPECT_EQ(ui().questions[0].caption, kProgramCaption);
  EXPECT_EQ(ui().questions[0].text,
            "Erase the board's firmware and program " + fs::absolute(file).string() + " (" +
                std::to_string(fs::file_size(file)) + " bytes, identification \"FLEX  V02.50\")?");

  std::ofstream(file, std::ios::binary | std::ios::app) << "S30A000E00000102030405D8\n";
  ASSERT_TRUE(LoadFirmwareFile(session.link.frontend, session.document.firmware, file));
  ui().answers = {true};
  EXPECT_FALSE(ProgramFirmware(session.link, session.document).Done());
  EXPECT_EQ(ui().questions.size(), 1u);
  ASSERT_EQ(ui().boxes.size(), 1u);
  EXPECT_EQ(ui().boxes[0].caption, kFirmwareFileCaption);
  EXPECT_NE(ui().boxes[0].text.find(": an S3 record"), std::string::npos) << ui().boxes[0].text;
  EXPECT_TRUE(Requests().empty());
}

TEST_F(FirmwareTest, AFileThatCannotBeReadIsReported) {
  Session& session = Connect();
  ASSERT_TRUE(
      LoadFirmwareFile(session.link.frontend, session.document.firmware, FirmwareFile({0})));
  const FirmwareBuffer before = session.document.firmware;
  EXPECT_FALSE(LoadFirmwareFile(session.link.frontend, session.document.firmware,
                                (dir_ / "missing.s28").string()));
  ASSERT_EQ(ui().boxes.size(), 1u);
  EXPECT_EQ(ui().boxes[0].caption, "File Error");
  EXPECT_EQ(ui().boxes[0].text,
            "Can't perform one of the following file operations: Open, Seek, Read, Close.");
  EXPECT_EQ(session.document.firmware.bytes, before.bytes);
  EXPECT_EQ(session.document.firmware.fileName, before.fileName);
}

}  // namespace
}  // namespace tuva::testing
