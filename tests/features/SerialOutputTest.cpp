#include "features/SerialOutput.h"

#include <gtest/gtest.h>

#include "features/FlagCodec.h"

namespace tuva {
namespace {

TEST(SerialOutput, BaudItemsMapToCodesAndUnknownCodesSelectNothing) {
  ConfigImage image = ConfigImage::StartupImage();
  EXPECT_EQ(BaudItem(image), 2);  // 0x34 = 9600
  StoreBaudItem(image, 4);
  EXPECT_EQ(image.byte(0x003), 0x0C);
  EXPECT_EQ(BaudText(image), "38400");
  image.setByte(0x003, 0x00);
  EXPECT_EQ(BaudItem(image), std::nullopt);
  EXPECT_EQ(BaudText(image), "? (0x00)");
}

TEST(SerialOutput, FormatBytesOutsideTheirItemsSelectNothing) {
  ConfigImage image = ConfigImage::StartupImage();
  EXPECT_EQ(ParityItem(image), 0);
  StoreParityItem(image, 2);
  EXPECT_EQ(image.byte(0x017), 'E');
  StoreStopBitsItem(image, 1);
  StoreDataBitsItem(image, 0);
  EXPECT_EQ(image.byte(0x018), 2);
  EXPECT_EQ(image.byte(0x019), 7);
  image.setByte(0x018, 3);
  image.setByte(0x019, 0xFF);
  image.setByte(0x017, 'X');
  EXPECT_EQ(StopBitsItem(image), std::nullopt);
  EXPECT_EQ(DataBitsItem(image), std::nullopt);
  EXPECT_EQ(ParityItem(image), std::nullopt);
}

TEST(SerialOutput, MessageDelayStoresLittleEndianWithInUseByte) {
  ConfigImage image = ConfigImage::StartupImage();
  EntryResult result = StoreMessageDelay(image, "300");
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(result.stored);
  EXPECT_EQ(image.byte(0x82C), 0x01);
  EXPECT_EQ(image.byte(0x833), 0x2C);
  EXPECT_EQ(image.byte(0x834), 0x01);
  EXPECT_EQ(MessageDelay(image), 300u);

  ASSERT_TRUE(StoreMessageDelay(image, "0").ok);
  EXPECT_EQ(image.byte(0x82C), 0x00);
  EXPECT_EQ(image.byte(0x833), 0x00);
  EXPECT_EQ(image.byte(0x834), 0x00);

  ASSERT_TRUE(StoreMessageDelay(image, "65000").ok);
  EXPECT_EQ(MessageDelay(image), 65000u);
}

TEST(SerialOutput, RefusedMessageDelaysGetTheirMessagesAndStoreNothing) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StoreMessageDelay(image, "300").ok);
  const ConfigImage before = image;

  EntryResult negative = StoreMessageDelay(image, "-5");
  EXPECT_FALSE(negative.ok);
  EXPECT_EQ(negative.message, "Please insert a number between 0 and 65000 !");
  EXPECT_EQ(negative.caption, "Vantel");
  EXPECT_EQ(negative.icon, MessageIcon::Exclamation);

  EntryResult letters = StoreMessageDelay(image, "5x");
  EXPECT_FALSE(letters.ok);
  EXPECT_EQ(letters.message, "Please insert a numeric!");
  EXPECT_TRUE(letters.plain());

  EXPECT_FALSE(StoreMessageDelay(image, "65001").ok);
  EXPECT_FALSE(StoreMessageDelay(image, "99999999999999999999999").ok);

  EntryResult empty = StoreMessageDelay(image, "");
  EXPECT_TRUE(empty.ok);
  EXPECT_FALSE(empty.stored);
  EXPECT_EQ(image, before);
}

TEST(SerialOutput, SerialOutEnableLivesAt839NotInTheDelay) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StoreMessageDelay(image, "300").ok);
  SetControlFlag(image, kSerialOutEnableTag, true);
  EXPECT_EQ(image.byte(0x839), 0x01);
  EXPECT_EQ(MessageDelay(image), 300u);
  SetControlFlag(image, 4, true);
  EXPECT_EQ(image.byte(0x832), 0x01);
  image.setByte(0x82E, 0x7F);  // any nonzero byte shows checked
  EXPECT_TRUE(ControlFlag(image, 0));
}

TEST(SerialOutput, FunctionCommandControlsNeedSerialOutAndNoFunCmdEnable) {
  ConfigImage image = ConfigImage::StartupImage();
  SerialPanelEnabling off = PanelEnabling(image);
  EXPECT_FALSE(off.parameters);
  EXPECT_FALSE(off.functionCommands);
  EXPECT_EQ(off.captionColour, 0x808080u);

  SetControlFlag(image, kSerialOutEnableTag, true);
  SerialPanelEnabling on = PanelEnabling(image);
  EXPECT_TRUE(on.parameters);
  EXPECT_TRUE(on.functionCommands);
  EXPECT_EQ(on.captionColour, 0x000000u);

  SetControlFlag(image, kFunctionCommandEnableTag, true);
  SerialPanelEnabling funCmd = PanelEnabling(image);
  EXPECT_TRUE(funCmd.parameters);
  EXPECT_FALSE(funCmd.functionCommands);

  SetControlFlag(image, kSerialOutEnableTag, false);
  EXPECT_FALSE(PanelEnabling(image).functionCommands);
}

TEST(SerialOutput, TimeUpdateWritesBothFlagsAndOneBit) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x037, 0x85);
  SetTimeUpdate(image, true);
  EXPECT_EQ(image.byte(0x848), 0x00);
  EXPECT_EQ(image.byte(0x9A4), 0x00);
  EXPECT_EQ(image.byte(0x037), 0xC5);
  EXPECT_TRUE(TimeUpdateOn(image));
  SetTimeUpdate(image, false);
  EXPECT_EQ(image.byte(0x848), 0xFF);
  EXPECT_EQ(image.byte(0x9A4), 0xFF);
  EXPECT_EQ(image.byte(0x037), 0x85);
}

TEST(Flags, InvertedFlagIsOnOnlyAtExactlyZero) {
  EXPECT_TRUE(InvertedFlagOn(0x00));
  EXPECT_FALSE(InvertedFlagOn(0x01));
  EXPECT_FALSE(InvertedFlagOn(0xFF));
  EXPECT_TRUE(PlainFlagOn(0x02));
  EXPECT_FALSE(PlainFlagOn(0x00));
}

}  // namespace
}  // namespace tuva
