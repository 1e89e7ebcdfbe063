#include "features/Prompts.h"

#include <gtest/gtest.h>

namespace tuva {
namespace {

constexpr std::size_t Slot(int i) {
  return 0x863 + 20 * static_cast<std::size_t>(i);
}

std::string SlotText(const ConfigImage& image, int i) {
  std::string text;
  for (std::size_t k = 0; k < image.byte(Slot(i) + 1); ++k) {
    text += static_cast<char>(image.byte(Slot(i) + 2 + k));
  }
  return text;
}

TEST(Prompts, LeadingSpacesGoToTheCount) {
  ConfigImage image = ConfigImage::StartupImage();
  image.setByte(Slot(4), 0xA0);  // high nibble belongs to the firmware
  ASSERT_TRUE(StorePrompt(image, 4, "   ABC").ok);
  EXPECT_EQ(image.byte(Slot(4)), 0xA3);
  EXPECT_EQ(image.byte(Slot(4) + 1), 3);
  EXPECT_EQ(SlotText(image, 4), "ABC");
  EXPECT_EQ(PromptText(image, 4), "   ABC");
}

TEST(Prompts, SpacesBeyondFifteenStartTheText) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StorePrompt(image, 0, std::string(17, ' ') + "AB").ok);
  EXPECT_EQ(image.byte(Slot(0)) & 0x0F, 15);
  EXPECT_EQ(image.byte(Slot(0) + 1), 4);
  EXPECT_EQ(SlotText(image, 0), "  AB");
  EXPECT_EQ(PromptText(image, 0), std::string(17, ' ') + "AB");
}

TEST(Prompts, EighteenCharactersAfterTheLeadingSpaces) {
  ConfigImage image = ConfigImage::StartupImage();
  EXPECT_TRUE(StorePrompt(image, 1, "   " + std::string(18, 'X')).ok);
  const ConfigImage before = image;
  for (const std::string& text : {"  " + std::string(19, 'X'), "ABC" + std::string(16, ' ')}) {
    EntryResult result = StorePrompt(image, 1, text);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Can not exceed 18 characters exclude left space!");
    EXPECT_EQ(result.caption, "KX40B_OTA");
  }
  // Longer than the edit's line: the spaces beyond 15 would overflow the slot.
  EXPECT_FALSE(StorePrompt(image, 1, std::string(40, ' ') + std::string(18, 'X')).ok);
  EXPECT_EQ(image, before);
}

TEST(Prompts, EmptyPromptStoresZeroCountAndLength) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StorePrompt(image, 2, "").ok);
  EXPECT_EQ(image.byte(Slot(2)) & 0x0F, 0);
  EXPECT_EQ(image.byte(Slot(2) + 1), 0);
  EXPECT_EQ(PromptText(image, 2), "");
}

TEST(Prompts, Alignment) {
  EXPECT_EQ(AlignPromptCenter("  ABCDE "), std::string(8, ' ') + "ABCDE");
  EXPECT_EQ(AlignPromptCenter("ABCDEF"), std::string(7, ' ') + "ABCDEF");
  EXPECT_EQ(AlignPromptLeft("    ABC  "), "ABC");
  const std::string right = AlignPromptRight("ABCDE");
  EXPECT_EQ(right, std::string(16, ' ') + "ABCDE");
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StorePrompt(image, 3, right).ok);
  EXPECT_EQ(image.byte(Slot(3)) & 0x0F, 15);
  EXPECT_EQ(SlotText(image, 3), " ABCDE");
}

TEST(Prompts, AutoCapCentresTheCapcode) {
  const std::string prompt = AutoCapPrompt("1234567");
  EXPECT_EQ(prompt, "      <1234567>");
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_TRUE(StorePrompt(image, 0, prompt).ok);
  EXPECT_EQ(image.byte(Slot(0)) & 0x0F, 6);
  EXPECT_EQ(SlotText(image, 0), "<1234567>");
}

TEST(Prompts, StartupSlotsShowCentredCapcodeNumbers) {
  const ConfigImage image = ConfigImage::StartupImage();
  EXPECT_EQ(PromptText(image, 0), "        < 1 >");
  EXPECT_EQ(PromptText(image, 15), "       < 16 >");
}

TEST(Prompts, ErasedSlotShowsAtMostEighteenCharactersOfItsOwn) {
  ConfigImage image = ConfigImage::StartupImage();
  for (std::size_t i = Slot(15); i < Slot(15) + 20; ++i) image.setByte(i, 0xFF);
  image.setByte(Slot(15) + 20, 'Z');  // the byte after the last slot
  const std::string text = PromptText(image, 15);
  EXPECT_EQ(text, std::string(15, ' ') + std::string(18, '\xFF'));
}

TEST(Prompts, SourceMode) {
  ConfigImage image = ConfigImage::StartupImage();
  EXPECT_EQ(SourceModeItem(image), 0);
  EXPECT_FALSE(PromptsEnabled(0));
  StoreSourceMode(image, kSourceAutoCap);
  EXPECT_EQ(image.byte(0x85E), 2);
  EXPECT_TRUE(PromptsEnabled(2));
  image.setByte(0x85E, 0xFF);
  EXPECT_EQ(SourceModeItem(image), std::nullopt);
}

}  // namespace
}  // namespace tuva
