#include "image/ConfigImage.h"

#include <gtest/gtest.h>

#include <vector>

namespace tuva {
namespace {

TEST(ConfigImage, SealStoresSumAndCheckBytes) {
  ConfigImage image;
  // Make the sum exactly 0x1234 = 18 x 0xFF + 0x46.
  std::vector<std::uint8_t> block(kImageSize, 0);
  for (int i = 0; i < 18; ++i) block[i] = 0xFF;
  block[18] = 0x46;
  image.Assign(std::span<const std::uint8_t, kImageSize>(block.data(), kImageSize));
  ASSERT_EQ(image.Sum(), 0x1234);
  image.Seal();
  const std::uint8_t expected[] = {0x12, 0x34, 0x47, 0x61, 0xB8, 0x9E};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(image.byte(kSumOffset + i), expected[i]) << i;
  EXPECT_TRUE(TrailerWellFormed(image.bytes().subspan(kSumOffset)));
  EXPECT_TRUE(PassesSumCheck(image.bytes()));
}

TEST(ConfigImage, SumOfAllFFIsEE02) {
  std::vector<std::uint8_t> block(kImageSize, 0xFF);
  EXPECT_EQ(BlockSum(block), 0xEE02);
  EXPECT_FALSE(PassesSumCheck(block));
  EXPECT_FALSE(TrailerWellFormed(std::span(block).subspan(kSumOffset)));
}

TEST(ConfigImage, BitAccessTouchesOnlyItsBits) {
  ConfigImage image;
  image.setByte(99, 0xFF);
  image.SetBits(99, 1, 0, 1);
  EXPECT_EQ(image.byte(99), 0xFD);
  image.setByte(98, 0x80);
  EXPECT_EQ(image.GetBits(98, 7, 1), 1u);
  EXPECT_EQ(image.GetBits(98, 0, 7), 0u);
  image.SetBits(98, 4, 0x5, 3);
  EXPECT_EQ(image.byte(98), 0xD0);
}

TEST(ConfigImage, StartupImageHoldsDefaults) {
  const ConfigImage image = ConfigImage::StartupImage();
  for (std::size_t i = kSumOffset; i < kImageSize; ++i) EXPECT_EQ(image.byte(i), 0xFF) << i;
  EXPECT_EQ(image.byte(3), 0x34);
  EXPECT_EQ(image.byte(2028), 0x77);
  EXPECT_EQ(image.byte(2028 + 4 * 15 + 1), 0x13);
  const std::string version(reinterpret_cast<const char*>(&image.bytes()[2123]), 12);
  EXPECT_EQ(version, "FLEX  V02.41");
  EXPECT_EQ(image.byte(2135), 0);
  // Prompt of capcode 1: eight leading spaces, "< 1 >"; capcode 16: seven, "< 16 >".
  EXPECT_EQ(image.byte(2147), 8);
  EXPECT_EQ(image.byte(2148), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image.bytes()[2149]), 5), "< 1 >");
  EXPECT_EQ(image.byte(2149 + 5), 0x20);
  const std::size_t last = 2147 + 20 * 15;
  EXPECT_EQ(image.byte(last), 7);
  EXPECT_EQ(image.byte(last + 1), 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image.bytes()[last + 2]), 6), "< 16 >");
  EXPECT_EQ(image.byte(2471), 0x00);
  EXPECT_EQ(image.byte(2473), 0x05);
  EXPECT_EQ(image.byte(2108), 0x00);  // no read password
}

TEST(ConfigImage, StorageHoldsTheBytesSentPastTheImage) {
  ConfigImage image = ConfigImage::StartupImage();
  const auto storage = image.storage();
  ASSERT_EQ(storage.size(), 4104u);
  EXPECT_EQ(storage[4100], 0x77);
  EXPECT_EQ(storage[4101], 0x10);
  EXPECT_EQ(storage[4102], 0x00);
  EXPECT_EQ(storage[4103], 0x00);
  EXPECT_THROW(image.byte(4100), std::out_of_range);
  EXPECT_THROW(image.setByte(4100, 0), std::out_of_range);
}

TEST(ConfigImage, AssignDataKeepsTrailer) {
  ConfigImage image = ConfigImage::StartupImage();
  std::vector<std::uint8_t> data(kImageDataSize, 0x11);
  image.AssignData(std::span<const std::uint8_t, kImageDataSize>(data.data(), kImageDataSize));
  EXPECT_EQ(image.byte(0), 0x11);
  EXPECT_EQ(image.byte(4093), 0x11);
  EXPECT_EQ(image.byte(4094), 0xFF);
}

}  // namespace
}  // namespace tuva
