#include "features/CapcodeStrings.h"

#include <gtest/gtest.h>

namespace tuva {
namespace {

std::vector<std::uint8_t> Bytes(const ConfigImage& image, std::size_t offset, std::size_t n) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < n; ++i) bytes.push_back(image.byte(offset + i));
  return bytes;
}

TEST(CapcodeStrings, ABlankPairEndsTheString) {
  ConfigImage image = ConfigImage::StartupImage();
  const std::string text = MaskedPairText(std::vector<std::uint8_t>{0x41, 0x42}, 30);
  // The user fills the fourth pair after leaving the third blank.
  std::string typed = text;
  typed.replace(9, 2, "43");
  ASSERT_TRUE(StoreCapcodeString(image, CapcodeString::Header, 2, typed).ok);
  EXPECT_EQ(image.byte(0x1F6 + 2), 2);
  EXPECT_EQ(Bytes(image, 0x206 + 60, 2), (std::vector<std::uint8_t>{0x41, 0x42}));
  EXPECT_EQ(ShowCapcodeEdits(image, 2).header.substr(0, 12), "41;42;  ;  ;");
}

TEST(CapcodeStrings, ALoneDigitIsThatDigit) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StoreCapcodeString(image, CapcodeString::Trailer, 0, "7 ;  ;  ").ok);
  EXPECT_EQ(image.byte(0x3E6), 1);
  EXPECT_EQ(image.byte(0x3F6), 0x07);
  EXPECT_EQ(PairListText(ReadCapcodeString(image, CapcodeString::Trailer, 0)), "07");
}

TEST(CapcodeStrings, ThirtyPairsFillTheAreaAndNoMore) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x5E6 + 30 * 6, 0x99);  // first timeout byte of the next capcode
  const std::vector<std::uint8_t> full(30, 0xAB);
  const std::string text = MaskedPairText(full, 30);
  EXPECT_EQ(text.size(), 89u);
  ASSERT_TRUE(StoreCapcodeString(image, CapcodeString::Timeout, 5, text).ok);
  EXPECT_EQ(image.byte(0x5D6 + 5), 30);
  EXPECT_EQ(image.byte(0x5E6 + 30 * 6), 0x99);
  // A 31st pair from outside the masked edit is refused, nothing written.
  const ConfigImage before = image;
  EXPECT_FALSE(StoreCapcodeString(image, CapcodeString::Timeout, 5, text + ";01").ok);
  EXPECT_EQ(image, before);
}

TEST(CapcodeStrings, ShorterStringKeepsTheOldBytesBeyondItsCount) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StoreCapcodeString(image, CapcodeString::Header, 0, "0D;0A;33").ok);
  ASSERT_TRUE(StoreCapcodeString(image, CapcodeString::Header, 0, "0D").ok);
  EXPECT_EQ(image.byte(0x1F6), 1);
  EXPECT_EQ(Bytes(image, 0x206, 3), (std::vector<std::uint8_t>{0x0D, 0x0A, 0x33}));
}

TEST(CapcodeStrings, ErasedCountShowsThirtyPairs) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(0x1F6 + 15, 0xFF);
  EXPECT_EQ(ReadCapcodeString(image, CapcodeString::Header, 15).size(), 30u);
  const CapcodeStringEdits edits = ShowCapcodeEdits(image, 15);
  EXPECT_EQ(edits.header.size(), 89u);
  ASSERT_TRUE(CollectCapcodeEdits(image, 15, edits).ok);
  EXPECT_EQ(image.byte(0x1F6 + 15), 30);
}

TEST(CapcodeStrings, FunctionCodeBlanksAreZero) {
  ConfigImage image = ConfigImage::StartupImage();
  EXPECT_EQ(ShowCapcodeEdits(image, 4).functionCode, "78;10;00;00");
  ASSERT_TRUE(StoreFunctionCode(image, 4, "12;34;  ;  ").ok);
  EXPECT_EQ(Bytes(image, 0x7EC + 16, 4), (std::vector<std::uint8_t>{0x12, 0x34, 0x00, 0x00}));
  ASSERT_TRUE(StoreFunctionCode(image, 4, "  ;5 ;  ;FF").ok);
  EXPECT_EQ(Bytes(image, 0x7EC + 16, 4), (std::vector<std::uint8_t>{0x00, 0x05, 0x00, 0xFF}));
}

TEST(CapcodeStrings, CollectIsAllOrNothing) {
  ConfigImage image = ConfigImage::StartupImage();
  CapcodeStringEdits edits = ShowCapcodeEdits(image, 3);
  edits.header = "41;42";
  edits.internalFunctionCommand = true;
  edits.functionCode = "7G;10;00;00";  // not hexadecimal
  const ConfigImage before = image;
  EntryResult refused = CollectCapcodeEdits(image, 3, edits);
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.message.empty());
  EXPECT_EQ(image, before);

  edits.functionCode = "7F;10;00;00";
  ASSERT_TRUE(CollectCapcodeEdits(image, 3, edits).ok);
  EXPECT_EQ(image.byte(0x1F6 + 3), 2);
  EXPECT_EQ(image.byte(0x7DC + 3), 0x01);
  EXPECT_EQ(image.byte(0x7EC + 12), 0x7F);
}

TEST(CapcodeStrings, RangesAndCaptions) {
  EXPECT_EQ(CapcodeGroupCaption(0, 0), "Capcode #1 ( Hex Only )");
  EXPECT_EQ(CapcodeGroupCaption(1, 0), "Capcode #5 ( Hex Only )");
  EXPECT_EQ(CapcodeGroupCaption(2, 0), "Capcode #9 ( Hex Only )");
  EXPECT_EQ(CapcodeGroupCaption(2, 3), "Capcode #12 ( Hex Only )");
  EXPECT_EQ(CapcodeInRange(3, 3), 15);
  EXPECT_EQ(kCapcodeRangeItems[2], "Capcode #09 - #12");
}

TEST(CapcodeStrings, KeyFilterKeepsUpperCaseHexOnly) {
  EXPECT_EQ(FilterHexKey('a'), 'A');
  EXPECT_EQ(FilterHexKey('7'), '7');
  EXPECT_EQ(FilterHexKey('g'), std::nullopt);
  EXPECT_EQ(FilterHexKey(' '), std::nullopt);
}

}  // namespace
}  // namespace tuva
