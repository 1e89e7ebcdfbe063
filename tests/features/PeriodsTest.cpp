#include "features/Periods.h"

#include <gtest/gtest.h>

#include "features/FlagCodec.h"

namespace tuva {
namespace {

TEST(Periods, TenthsOfASecondAtTheFinestPreScaler) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_EQ(image.byte(0x1F5), 1);
  ASSERT_TRUE(StorePeriod(image, 0, "2.5", 1).ok);
  EXPECT_EQ(image.byte(0x1E0), 25);
  ASSERT_TRUE(StorePeriod(image, 0, "25.5", 1).ok);
  EXPECT_EQ(image.byte(0x1E0), 255);
  ASSERT_TRUE(StorePeriod(image, 1, "1.25", 1).ok);
  EXPECT_EQ(image.byte(0x1E1), 12);
  EXPECT_EQ(PeriodText(image, 1), "1.2");
  EXPECT_EQ(PeriodText(image, 8), "1");  // the start-up 10 units
}

TEST(Periods, AboveTheMaximumIsRefusedWithTheMaximum) {
  ConfigImage image = ConfigImage::StartupImage();
  const ConfigImage before = image;
  for (const char* text : {"25.6", "25.51", "26", "1000000000000"}) {
    EntryResult result = StorePeriod(image, 0, text, 1);
    EXPECT_FALSE(result.ok) << text;
    EXPECT_EQ(result.message, "Please insert a number between 0 and 25.5") << text;
    EXPECT_EQ(result.caption, "Vantel");
  }
  EXPECT_EQ(StorePeriod(image, 0, "6375.1", 250).message,
            "Please insert a number between 0 and 6375");
  EXPECT_TRUE(StorePeriod(image, 0, "25.50", 1).ok);  // exactly the maximum
  image.setByte(0x1E0, before.byte(0x1E0));
  EXPECT_EQ(image, before);
}

TEST(Periods, TextThatIsNoNumberStoresNothing) {
  ConfigImage image = ConfigImage::StartupImage();
  const ConfigImage before = image;
  for (const char* text : {"1.2.3", ".", "-1", "2,5"}) {
    EntryResult result = StorePeriod(image, 3, text, 1);
    EXPECT_FALSE(result.ok) << text;
    EXPECT_FALSE(result.message.empty()) << text;
  }
  EntryResult empty = StorePeriod(image, 3, "", 1);
  EXPECT_TRUE(empty.ok);
  EXPECT_FALSE(empty.stored);
  EXPECT_EQ(image, before);
}

TEST(Periods, WholeSecondsAtTheOneSecondPreScaler) {
  ConfigImage image = ConfigImage::StartupImage();
  EXPECT_EQ(ApplyPreScaler(image, 1), 10);
  ASSERT_TRUE(StorePeriod(image, 2, "100", 10).ok);
  EXPECT_EQ(image.byte(0x1E2), 100);
  EXPECT_EQ(PeriodText(image, 2), "100");
}

TEST(Periods, ChangingThePreScalerRescalesAndLosesPrecision) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x1E0, 25);
  ApplyPreScaler(image, 1);  // 0.1 sec -> 1 sec
  EXPECT_EQ(image.byte(0x1F5), 10);
  EXPECT_EQ(image.byte(0x1E0), 2);
  EXPECT_EQ(PeriodText(image, 0), "2");
  ApplyPreScaler(image, 0);  // back to 0.1 sec
  EXPECT_EQ(image.byte(0x1E0), 20);
  EXPECT_EQ(PeriodText(image, 0), "2");

  ApplyPreScaler(image, 5);
  image.setByte(0x1E0, 2);  // 50 s
  ApplyPreScaler(image, 0);
  EXPECT_EQ(image.byte(0x1E0), 255);
}

TEST(Periods, AnErasedPreScalerByteRescalesAsIfItWereAFactor) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x1F5, 0x00);
  EXPECT_EQ(PreScalerItemOf(image), std::nullopt);
  ApplyPreScaler(image, 0);
  EXPECT_EQ(image.byte(0x1E0), 0);
  image.setByte(0x1E0, 3);
  image.setByte(0x1F5, 0xFF);
  ApplyPreScaler(image, 0);
  EXPECT_EQ(image.byte(0x1E0), 255);
}

TEST(Periods, PreScalerLabels) {
  EXPECT_EQ(PreScalerLabel(0), "Max.=25.5 sec");
  EXPECT_EQ(PreScalerLabel(1), "Max.=255 sec");
  EXPECT_EQ(PreScalerLabel(5), "Max.=6375 sec");
}

TEST(Outputs, PowerUpBitsTouchOnlyTheirOwnBit) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x838, 0xA5);
  SetPowerUpOutput(image, 8, true);
  EXPECT_EQ(image.byte(0x838), 0xB5);
  EXPECT_EQ(image.byte(0x837), 0x00);
  SetPowerUpOutput(image, 8, false);
  EXPECT_EQ(image.byte(0x838), 0xA5);
  SetPowerUpOutput(image, 0, true);
  EXPECT_EQ(image.byte(0x837), 0x01);
  EXPECT_TRUE(PowerUpOutputOn(image, 0));
  EXPECT_FALSE(PowerUpOutputOn(image, 8));
}

TEST(Periods, DecimalKeys) {
  EXPECT_TRUE(DecimalKeyAllowed('5'));
  EXPECT_TRUE(DecimalKeyAllowed('.'));
  EXPECT_TRUE(DecimalKeyAllowed('\b'));
  EXPECT_FALSE(DecimalKeyAllowed('-'));
  EXPECT_FALSE(DecimalKeyAllowed('a'));
}

}  // namespace
}  // namespace tuva
