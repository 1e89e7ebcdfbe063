#include "image/CapcodeCodec.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tuva {
namespace {

std::array<std::uint8_t, 3> RecordBytes(const ConfigImage& image, int record) {
  const std::size_t at = 161 + 4 * static_cast<std::size_t>(record);
  return {image.byte(at), image.byte(at + 1), image.byte(at + 2)};
}

TEST(CapcodeCodec, StartupImageShowsItsCapcodes) {
  const ConfigImage image = ConfigImage::StartupImage();
  const CapcodeRefill refill = DecodeCapcodes(image);
  EXPECT_FALSE(refill.longPairFound);
  EXPECT_EQ(refill.slots[0].text, "1234567");
  EXPECT_EQ(refill.slots[1].text, "1234560");
  EXPECT_TRUE(refill.slots[0].enabled);
  EXPECT_TRUE(refill.slots[1].enabled);
  for (int i = 2; i < kCapcodeSlots; ++i) {
    EXPECT_TRUE(refill.slots[i].refilled && refill.slots[i].textRefilled) << i;
    EXPECT_EQ(refill.slots[i].text, "0000001") << i;
    EXPECT_FALSE(refill.slots[i].enabled) << i;
  }
  EXPECT_EQ(StoredAddressMode(image), AddressMode::Short);
}

TEST(CapcodeCodec, KnownCapcodesGiveTheirWords) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_EQ(EncodeCapcode(image, 0, 1234567, false), CapcodeForm::Short);
  EXPECT_EQ(RecordBytes(image, 0), (std::array<std::uint8_t, 3>{0x13, 0x56, 0x87}));
  EXPECT_EQ(image.byte(160), 0x80);  // the id byte is never written

  struct Long {
    std::uint32_t capcode;
    std::array<std::uint8_t, 3> first, second;
    const char* text;
  };
  const Long cases[] = {
      {2101249, {0x40, 0x00, 0x01}, {0x5F, 0xFF, 0xFE}, "0002101249"},
      {1075843073, {0x40, 0x00, 0x01}, {0x5E, 0x00, 0x01}, "1075843073"},
      {3223326721u, {0x5F, 0x80, 0x01}, {0x5E, 0x00, 0x01}, "3223326721"},
  };
  for (const Long& c : cases) {
    image = ConfigImage::StartupImage();
    ASSERT_EQ(EncodeCapcode(image, 0, c.capcode, true), CapcodeForm::LongPair) << c.capcode;
    EXPECT_EQ(RecordBytes(image, 0), c.first) << c.capcode;
    EXPECT_EQ(RecordBytes(image, 1), c.second) << c.capcode;
    EXPECT_EQ(image.byte(164), 0x81);
    const CapcodeRefill refill = DecodeCapcodes(image);
    EXPECT_TRUE(refill.longPairFound);
    EXPECT_TRUE(refill.slots[0].longPair);
    EXPECT_EQ(refill.slots[0].text, c.text);
    EXPECT_FALSE(refill.slots[1].refilled);
    EXPECT_EQ(refill.slots[2].text, "0000001");
  }
}

// Which form the table of ranges gives a capcode.
CapcodeForm ExpectedForm(std::uint32_t a) {
  if (a <= 2031614) return CapcodeForm::Short;
  if (a <= 2101248 || a > 4291000000u) return CapcodeForm::NotStored;
  return CapcodeForm::LongPair;
}

TEST(CapcodeCodec, EveryStoredCapcodeDecodesBackAndTheGapsWriteNothing) {
  std::vector<std::uint32_t> values;
  const std::uint32_t edges[] = {
      0,       1,          32767,      32768,      2031614,     2031615,    2101248,    2101249,
      2101250, 1075843072, 1075843073, 3223326720, 3223326721u, 4291000000, 4291000001, 4294967295};
  for (const std::uint32_t edge : edges) {
    for (std::int64_t d = -40; d <= 40; ++d) {
      const std::int64_t v = std::int64_t{edge} + d;
      if (v >= 0 && v <= 0xFFFFFFFF) values.push_back(static_cast<std::uint32_t>(v));
    }
  }
  // Every frame boundary of the long forms sits at a multiple of 32768 from their bases.
  for (std::uint32_t frame = 0; frame < 131072; frame += 97) {
    const std::uint64_t base = 2068481ull + std::uint64_t{frame} * 32768;
    for (const std::uint64_t v : {base - 1, base, base + 32767}) {
      if (v <= 0xFFFFFFFF) values.push_back(static_cast<std::uint32_t>(v));
    }
  }
  std::mt19937 random(20240607);
  for (int n = 0; n < 4000; ++n) values.push_back(static_cast<std::uint32_t>(random()));

  const ConfigImage startup = ConfigImage::StartupImage();
  for (const std::uint32_t a : values) {
    ConfigImage image = startup;
    const CapcodeForm form = EncodeCapcode(image, 0, a, true);
    ASSERT_EQ(form, ExpectedForm(a)) << a;
    const CapcodeSlotView view = DecodeCapcodes(image).slots[0];
    if (form == CapcodeForm::NotStored) {
      ASSERT_EQ(image, startup) << a;
      continue;
    }
    ASSERT_EQ(view.value, a) << a;
    ASSERT_EQ(view.longPair, form == CapcodeForm::LongPair) << a;
    ASSERT_EQ(ParseCapcode(view.text), a) << a;
    ASSERT_EQ(view.text.size(), form == CapcodeForm::LongPair ? 10u : 7u) << a;
  }
}

TEST(CapcodeCodec, LongModeSlotZeroCarriesTheEnableBitOfSlotOne) {
  ConfigImage image = ConfigImage::StartupImage();  // slots 0 and 1 enabled
  SetCapcodeEnabled(image, 0, false);
  EncodeCapcode(image, 0, 2101249, true);
  EXPECT_FALSE(CapcodeEnabled(image, 1));  // copied from slot 0
  SetCapcodeEnabled(image, 0, true);
  EncodeCapcode(image, 0, 2101249, true);
  EXPECT_TRUE(CapcodeEnabled(image, 1));
  EncodeCapcode(image, 0, 1234567, true);
  EXPECT_FALSE(CapcodeEnabled(image, 1));  // a short word clears it

  SetCapcodeEnabled(image, 1, true);
  EncodeCapcode(image, 0, 2050000, true);  // nothing written: nothing touched
  EXPECT_TRUE(CapcodeEnabled(image, 1));
  EncodeCapcode(image, 0, 1234567, false);  // Short mode: enable bits are the user's
  EXPECT_TRUE(CapcodeEnabled(image, 1));
  SetCapcodeEnabled(image, 0, false);
  EncodeCapcode(image, 0, 2101249, false);
  EXPECT_TRUE(CapcodeEnabled(image, 1));

  SetCapcodeEnabled(image, 12, true);
  EXPECT_EQ(image.byte(98), 0x10);
  EXPECT_TRUE(CapcodeEnabled(image, 12));
}

TEST(CapcodeCodec, LongPairOutsideSlotZeroHidesTheNextSlot) {
  ConfigImage image = ConfigImage::StartupImage();
  ASSERT_EQ(EncodeCapcode(image, 2, 2101249, false), CapcodeForm::LongPair);
  const CapcodeRefill refill = DecodeCapcodes(image);
  EXPECT_TRUE(refill.longPairFound);
  EXPECT_EQ(refill.slots[0].text, "1234567");
  EXPECT_EQ(refill.slots[2].text, "0002101249");
  EXPECT_FALSE(refill.slots[3].refilled);
  EXPECT_FALSE(refill.slots[3].textRefilled);
  EXPECT_EQ(refill.slots[4].text, "0000001");
  // Slot 15 has no next record: a long capcode there is not stored.
  const ConfigImage before = image;
  EXPECT_EQ(EncodeCapcode(image, 15, 2101249, false), CapcodeForm::NotStored);
  EXPECT_EQ(image, before);
}

TEST(CapcodeCodec, WordsNoCapcodeGivesShowInvalidAndSurviveReencoding) {
  ConfigImage image = ConfigImage::StartupImage();
  WriteCapcodeRecord(image, 3, {0x001234, false});  // short word below 32768
  WriteCapcodeRecord(image, 5, {0x008000, false});  // 32768 is capcode 0
  WriteCapcodeRecord(image, 15, {0x000001, true});  // long word with no partner
  CapcodeRefill refill = DecodeCapcodes(image);
  EXPECT_EQ(refill.slots[3].text, kUndecodableCapcodeText);
  EXPECT_FALSE(refill.slots[3].value);
  EXPECT_EQ(refill.slots[5].text, "0000000");
  EXPECT_EQ(refill.slots[15].text, kUndecodableCapcodeText);
  EXPECT_FALSE(refill.longPairFound);

  // A pair that fits no form; one that fits a form but is not what its number is stored as (first
  // word 0); one that decodes above 4291000000, and one past 32 bits. All still take two records
  // and select Long.
  const CapcodeRecord odd[][2] = {{{0x012345, true}, {0x000002, true}},
                                  {{0x000000, true}, {0x1FFFF0, true}},
                                  {{0x1F8001, true}, {0x1E7F67, true}},
                                  {{0x1FFFFE, true}, {0x1E8000, true}}};
  for (const auto& pair : odd) {
    WriteCapcodeRecord(image, 0, pair[0]);
    WriteCapcodeRecord(image, 1, pair[1]);
    refill = DecodeCapcodes(image);
    EXPECT_TRUE(refill.longPairFound);
    EXPECT_EQ(refill.slots[0].text, kUndecodableCapcodeText);
    EXPECT_FALSE(refill.slots[1].refilled);
    const ConfigImage before = image;
    EXPECT_EQ(EncodeCapcodeText(image, 0, refill.slots[0].text, true), CapcodeForm::NotStored);
    EXPECT_EQ(image, before);
  }

  // A long word in slot 1 behind a short slot 0: the edit keeps its text, the box is refilled.
  image = ConfigImage::StartupImage();
  WriteCapcodeRecord(image, 1, {0x1FFFFE, true});
  refill = DecodeCapcodes(image);
  EXPECT_FALSE(refill.slots[1].textRefilled);
  EXPECT_TRUE(refill.slots[1].refilled);
  EXPECT_TRUE(refill.slots[1].enabled);
  EXPECT_FALSE(refill.longPairFound);
}

TEST(CapcodeCodec, GroupMapFollowsEnabledEditTexts) {
  ConfigImage image = ConfigImage::StartupImage();
  std::array<std::string, kCapcodeSlots> texts;
  const CapcodeRefill refill = DecodeCapcodes(image);
  for (int i = 0; i < kCapcodeSlots; ++i) texts[i] = refill.slots[i].text;
  image.setByte(130, 0xAA);
  UpdateCapcodeGroupMap(image, texts);
  for (std::size_t at = 130; at <= 158; at += 4) {
    EXPECT_EQ(image.byte(at), 0x01) << at;
    EXPECT_EQ(image.byte(at + 1), 0x00) << at;
    EXPECT_EQ(image.byte(at - 2), 0x20 + (at - 130) / 4) << at;  // ids untouched
  }
  // Slot 2 enabled with capcode 0000001 (group 0); a slot showing "invalid" adds nothing.
  SetCapcodeEnabled(image, 2, true);
  SetCapcodeEnabled(image, 3, true);
  texts[3] = kUndecodableCapcodeText;
  UpdateCapcodeGroupMap(image, texts);
  EXPECT_EQ(image.byte(158), 0x01);
  EXPECT_EQ(image.byte(159), 0x01);
  SetCapcodeEnabled(image, 0, false);
  SetCapcodeEnabled(image, 1, false);
  UpdateCapcodeGroupMap(image, texts);
  EXPECT_EQ(image.byte(130), 0x00);
}

TEST(CapcodeCodec, TypedTextIsCheckedWithoutOverflow) {
  EXPECT_EQ(CapcodeMaximum(0, true), 4291000000u);
  EXPECT_EQ(CapcodeMaximum(0, false), 2031615u);
  EXPECT_EQ(CapcodeMaximum(1, true), 2031615u);

  EXPECT_EQ(CheckCapcodeText("", 2031615).status, CapcodeTextStatus::Empty);
  const CapcodeTextCheck letters = CheckCapcodeText("12a4", 2031615);
  EXPECT_EQ(letters.status, CapcodeTextStatus::NotNumeric);
  EXPECT_EQ(letters.message, "Please insert a numeric!");
  EXPECT_EQ(CheckCapcodeText("-1", 2031615).status, CapcodeTextStatus::NotNumeric);

  const CapcodeTextCheck top = CheckCapcodeText("4291000000", 4291000000u);
  EXPECT_EQ(top.status, CapcodeTextStatus::Accepted);
  EXPECT_EQ(top.value, 4291000000u);
  EXPECT_EQ(CheckCapcodeText("4291000001", 4291000000u).message,
            "Please insert a number between 0000007 to 4291000000");
  EXPECT_EQ(CheckCapcodeText("2031616", 2031615).message,
            "Please insert a number between 0000007 to 2031615");
  EXPECT_EQ(CheckCapcodeText("0000001", 2031615).value, 1u);
  // Longer than 32 bits, and longer than 64: refused as too large, never wrapped round.
  EXPECT_EQ(CheckCapcodeText("4294967297", 4291000000u).status, CapcodeTextStatus::TooLarge);
  EXPECT_EQ(CheckCapcodeText("99999999999999999999999999", 2031615).status,
            CapcodeTextStatus::TooLarge);
  EXPECT_EQ(CheckCapcodeText("99999999999999999999x", 2031615).status,
            CapcodeTextStatus::NotNumeric);

  EXPECT_EQ(ParseCapcode("4294967295"), 4294967295u);
  EXPECT_FALSE(ParseCapcode("4294967296"));
  EXPECT_FALSE(ParseCapcode(""));
}

}  // namespace
}  // namespace tuva
