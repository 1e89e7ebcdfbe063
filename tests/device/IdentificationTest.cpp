// The firmware's and the configuration's identification texts, read from the simulated board.
#include "device/DeviceTest.h"
#include "device/OperationSupport.h"
#include "device/Operations.h"

namespace tuva::testing {
namespace {

using sim::SimContents;

using IdentificationTest = DeviceTest;

TEST_F(IdentificationTest, CheckFirmwareShowsModelAndVersion) {
  Session& session = Connect();
  EXPECT_TRUE(CheckFirmware(session));
  EXPECT_EQ(ui().messages, std::vector<std::string>{"Model : FLEX    Version = 2.41"});
  EXPECT_EQ(Requests(), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0xEFFE0 12"}));
  EXPECT_FALSE(session.port.IsOpen());
  EXPECT_EQ(ui().progress, 0);
}

TEST_F(IdentificationTest, ErasedIdentificationIsNoError) {
  Session& session = Connect({.erasedIdentification = true});
  EXPECT_TRUE(CheckFirmware(session));
  EXPECT_EQ(ui().messages, std::vector<std::string>{"The version field is empty!"});
}

// A run killed during a Write leaves the rest of a board's answer on the line: the next run's
// identification reply starts with it. The line is brought back in step and the identification
// read again before the firmware is judged.
TEST_F(IdentificationTest, AGarbledReplyIsReadAgainBeforeTheFirmwareIsJudged) {
  Session& session = Connect({.garbleFirstReply = true});
  EXPECT_TRUE(CheckFirmware(session));
  EXPECT_EQ(ui().messages, std::vector<std::string>{"Model : FLEX    Version = 2.41"});
  EXPECT_EQ(Requests(), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0xEFFE0 12",
                                                  "ReadBlock 0xEFFE0 12"}));
}

TEST_F(IdentificationTest, PocsagAndConfigurationTexts) {
  Session& session = Connect({.contents = SimContents::Erased, .pocsagFirmware = true});
  ASSERT_TRUE(session.FindBoard());
  const std::string firmware = IdentifyFirmware(session);
  EXPECT_EQ(firmware, "Model : POCSAG  Version = 1.20");
  EXPECT_EQ(ModelOfLine(firmware), "POCSAG");
  EXPECT_EQ(IdentifyConfiguration(session, 0), "This is old version !");
  // The port stays open for the caller.
  EXPECT_TRUE(session.port.IsOpen());
  ClosePort(session);

  Session& fresh = Connect();
  ASSERT_TRUE(fresh.FindBoard());
  EXPECT_EQ(IdentifyConfiguration(fresh, 1), "Model : FLEX    Version = 2.41");
  ClosePort(fresh);
}

}  // namespace
}  // namespace tuva::testing
