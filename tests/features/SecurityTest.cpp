#include "features/Security.h"

#include <gtest/gtest.h>

namespace tuva {
namespace {

TEST(Security, OutOfRangeTimeoutTakesZeroTo255) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StoreLockByte(image, kOutOfRangeTimeoutTag, "255").ok);
  EXPECT_EQ(image.byte(0x006), 0xFF);
  const ConfigImage before = image;
  for (const char* text : {"256", "-3"}) {
    EntryResult result = StoreLockByte(image, kOutOfRangeTimeoutTag, text);
    EXPECT_FALSE(result.ok) << text;
    EXPECT_EQ(result.message, "Please insert a number between 0 and 255 !") << text;
    EXPECT_EQ(result.caption, "Vantel");
  }
  EntryResult letters = StoreLockByte(image, kOutOfRangeTimeoutTag, "abc");
  EXPECT_EQ(letters.message, "Please insert a numeric!");
  EXPECT_TRUE(letters.plain());
  EXPECT_FALSE(StoreLockByte(image, kSequentialLockTag, "").stored);
  EXPECT_EQ(image, before);
  ASSERT_TRUE(StoreLockByte(image, kSequentialLockTag, "30").ok);
  EXPECT_EQ(image.byte(0x1F3), 30);
}

TEST(Security, FullFunctionPasswordLeavesNoZeroByte) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x7D1, 0x05);
  ASSERT_TRUE(StoreFunctionPassword(image, 1, "ABCDEFGHIJ").ok);
  EXPECT_EQ(image.byte(0x7C6), 10);
  EXPECT_EQ(image.byte(0x7C7), 'A');
  EXPECT_EQ(image.byte(0x7D0), 'J');
  EXPECT_EQ(image.byte(0x7D1), 0x05);
  EXPECT_EQ(FunctionPassword(image, 1), "ABCDEFGHIJ");
  EXPECT_FALSE(StoreFunctionPassword(image, 1, "ABCDEFGHIJK").ok);
}

TEST(Security, ShortFunctionPasswordIsZeroTerminated) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x7D6, 0x77);
  ASSERT_TRUE(StoreFunctionPassword(image, 2, "xyz").ok);
  EXPECT_EQ(image.byte(0x7D1), 3);
  EXPECT_EQ(image.byte(0x7D4), 'z');
  EXPECT_EQ(image.byte(0x7D5), 0x00);
  EXPECT_EQ(image.byte(0x7D6), 0x77);
  ASSERT_TRUE(StoreFunctionPassword(image, 2, "").ok);
  EXPECT_EQ(image.byte(0x7D1), 0);
  EXPECT_EQ(image.byte(0x7D2), 0x00);
}

TEST(Security, ErasedFunctionPasswordShowsTenCharacters) {
  ConfigImage image = ConfigImage::StartupImage();
  for (std::size_t i = 0x7D1; i <= 0x7DB; ++i) image.setByte(i, 0xFF);
  EXPECT_EQ(FunctionPassword(image, 2).size(), 10u);
}

TEST(Security, ReadPasswordIsZeroTerminated) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StoreReadPassword(image, "0123456789").ok);
  EXPECT_EQ(image.byte(0x83C), '0');
  EXPECT_EQ(image.byte(0x845), '9');
  EXPECT_EQ(image.byte(0x846), 0x00);
  EXPECT_EQ(image.byte(0x847), 0xFF);
  EXPECT_EQ(ReadPassword(image), "0123456789");
  ASSERT_TRUE(StoreReadPassword(image, "").ok);
  EXPECT_EQ(image.byte(0x83C), 0x00);
  EXPECT_EQ(ReadPassword(image), "");
}

TEST(Security, ReadPasswordRefusesWhatTheBoardCannotTake) {
  ConfigImage image = ConfigImage::StartupImage();
  const ConfigImage before = image;
  EXPECT_FALSE(StoreReadPassword(image, "12a").ok);
  EXPECT_FALSE(StoreReadPassword(image, "01234567890").ok);
  EXPECT_EQ(image, before);
  EXPECT_TRUE(ReadPasswordKeyAllowed('.'));
  EXPECT_FALSE(ReadPasswordKeyAllowed('x'));
}

TEST(Security, ErasedReadPasswordShowsTenCharacters) {
  ConfigImage image = ConfigImage::StartupImage();
  for (std::size_t i = 0x83C; i <= 0x846; ++i) image.setByte(i, 0xFF);
  EXPECT_EQ(ReadPassword(image).size(), 10u);
}

}  // namespace
}  // namespace tuva
