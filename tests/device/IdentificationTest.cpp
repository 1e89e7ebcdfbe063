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
  EXPECT_TRUE(CheckFirmware(session.link).Done());
  EXPECT_EQ(ui().messages, std::vector<std::string>{"Model : FLEX    Version = 2.41"});
  EXPECT_EQ(Requests(), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0xEFFE0 12"}));
  EXPECT_FALSE(session.link.port.IsOpen());
  EXPECT_EQ(ui().progress, 0);
}

TEST_F(IdentificationTest, ErasedIdentificationIsNoError) {
  Session& session = Connect({.erasedIdentification = true});
  EXPECT_TRUE(CheckFirmware(session.link).Done());
  EXPECT_EQ(ui().messages, std::vector<std::string>{"The version field is empty!"});
}

// A run killed during a Write leaves the rest of a board's answer on the line: the next run's
// identification reply starts with it. The line is brought back in step (the reply still on its
// way is not taken for the next one's) and the identification read again before it is judged.
TEST_F(IdentificationTest, AGarbledReplyIsReadAgainBeforeTheFirmwareIsJudged) {
  Session& session = Connect({.contents = SimContents::Erased, .garbleFirstReply = true});
  ASSERT_TRUE(session.link.FindBoard());
  EXPECT_EQ(IdentifyFirmware(session.link), "Model : FLEX    Version = 2.41");
  EXPECT_EQ(IdentifyConfiguration(session.link, 0), "This is old version !");
  ClosePort(session.link);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0xEFFE0 12",
                                                  "ReadBlock 0xEFFE0 12", "ReadBlock 0x8884B 12"}));
}

// What a garbled identification reply is, in the bytes as received (still stuffed).
TEST(IdentificationReply, GarbledMeansBrokenStuffingMissingBytesOrNoText) {
  const auto reply = [](std::vector<std::uint8_t> data) {
    data.insert(data.begin(), kReplyHeaderSize, 0x20);
    data.push_back(0x5A);  // the sum
    data.push_back(0x01);
    return data;
  };
  const std::vector<std::uint8_t> flex(std::begin("FLEX  V02.41"), std::end("FLEX  V02.41") - 1);
  auto shortText = flex;
  shortText[4] = 0;  // "FLEX": a text may end early in a zero
  auto control = flex;
  control[7] = 0x07;
  auto high = flex;
  high[0] = 0xF1;
  auto badEscape = flex;
  badEscape.insert(badEscape.begin() + 2, {0x1B, 0x41});
  const auto good = reply(flex);
  auto escaped = good;  // a sum that holds 0x1B, stuffed
  escaped.insert(escaped.end() - 1, 0xE4);
  escaped[escaped.size() - 3] = 0x1B;
  auto trailingEscape = good;
  trailingEscape.push_back(0x1B);
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool garbled;
  } rows[] = {
      {"a good reply", good, false},
      {"an escaped byte", escaped, false},
      {"a short text", reply(shortText), false},
      {"a control character", reply(control), true},
      {"a byte above ASCII", reply(high), true},
      {"an escape of neither 0x03 nor 0x1B", reply(badEscape), true},
      {"an escape at the end", trailingEscape, true},
      {"fewer than 12 data bytes", {good.begin(), good.begin() + 25}, true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IdentificationGarbled(row.bytes, row.bytes.size()), row.garbled) << row.what;
  }
}

TEST_F(IdentificationTest, PocsagAndConfigurationTexts) {
  Session& session = Connect({.contents = SimContents::Erased, .pocsagFirmware = true});
  ASSERT_TRUE(session.link.FindBoard());
  const std::string firmware = IdentifyFirmware(session.link);
  EXPECT_EQ(firmware, "Model : POCSAG  Version = 1.20");
  EXPECT_EQ(ModelOfLine(firmware), "POCSAG");
  EXPECT_EQ(IdentifyConfiguration(session.link, 0), "This is old version !");
  // The port stays open for the caller.
  EXPECT_TRUE(session.link.port.IsOpen());
  ClosePort(session.link);

  Session& fresh = Connect();
  ASSERT_TRUE(fresh.link.FindBoard());
  EXPECT_EQ(IdentifyConfiguration(fresh.link, 1), "Model : FLEX    Version = 2.41");
  ClosePort(fresh.link);
}

}  // namespace
}  // namespace tuva::testing
