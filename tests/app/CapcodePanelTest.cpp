// The capcode panel: key-by-key encoding, the Long mode of slot 0, refusals and the enable boxes.
#include "AppTestSupport.h"

namespace tuva::testing {
namespace {

using app::CapcodePanel;

class CapcodePanelTest : public WindowTest {
 protected:
  CapcodePanel& panel() { return *window().capcodes(); }
  void ChooseMode(AddressMode mode) {
    panel().cboSrtLng()->setCurrentIndex(static_cast<int>(mode));
    panel().cboSrtLngClick();
  }
  std::vector<int> Bytes(std::size_t offset, std::size_t count) {
    std::vector<int> bytes;
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(image().byte(offset + i));
    return bytes;
  }
};

TEST_F(CapcodePanelTest, LongCapcodeIsWrittenKeyByKeyAndShownPaddedOnExit) {
  Open();
  ChooseMode(AddressMode::Long);
  EXPECT_FALSE(panel().edit(1)->isVisible());
  EXPECT_EQ(panel().edit(0)->maxChars(), 10);
  Type(panel().edit(0), "2101249");
  EXPECT_EQ(Bytes(161, 3), (std::vector<int>{0x40, 0x00, 0x01}));
  EXPECT_EQ(Bytes(165, 3), (std::vector<int>{0x5F, 0xFF, 0xFE}));
  EXPECT_EQ(panel().edit(0)->text(), "0002101249");
  EXPECT_EQ(window().focusWidget(), Named<QLineEdit>(window(), "edtNull"));
  EXPECT_EQ(image().byte(2106), 1);
}

TEST_F(CapcodePanelTest, EnterCommitsExactlyAsLeavingWithTheMouse) {
  Open();
  Type(panel().edit(4), "42", /*pressEnter=*/true);
  const ConfigImage byEnter = image();
  const QString shownByEnter = panel().edit(4)->text();

  Type(panel().edit(5), "42", /*pressEnter=*/false);
  panel().edit(7)->setFocus(Qt::MouseFocusReason);  // leave by clicking elsewhere
  window().FocusSink();
  EXPECT_EQ(shownByEnter, "0000042");
  EXPECT_EQ(panel().edit(5)->text(), shownByEnter);
  EXPECT_EQ(ReadCapcodeRecord(image(), 5), ReadCapcodeRecord(byEnter, 4));
}

TEST_F(CapcodePanelTest, TooLargeAndNonNumericTextsAreRefusedKeepingTheLastAcceptedValue) {
  Open();
  ChooseMode(AddressMode::Long);
  Type(panel().edit(0), "4291000000");
  EXPECT_EQ(panel().edit(0)->text(), "4291000000");

  // The image follows the text key by key: the refusal of the tenth digit leaves the nine before.
  Type(panel().edit(0), "4291000001", /*pressEnter=*/false);
  ASSERT_FALSE(dialogs.boxes.empty());
  EXPECT_EQ(dialogs.boxes.back().caption, "FVantel");
  EXPECT_EQ(dialogs.boxes.back().text, "Please insert a number between 0000007 to 4291000000");
  EXPECT_EQ(DecodeLongPair(ReadCapcodeRecord(image(), 0), ReadCapcodeRecord(image(), 1)),
            429100000u);
  EXPECT_EQ(panel().edit(0)->text(), "0429100000");

  Type(panel().edit(3), "12x", /*pressEnter=*/false);
  EXPECT_EQ(dialogs.boxes.back().text, "Please insert a numeric!");
  EXPECT_EQ(panel().edit(3)->text(), "0000012");
  EXPECT_EQ(ReadCapcodeRecord(image(), 3), (CapcodeRecord{12 + 32768, false}));

  // Every slot but slot 0 in Long mode accepts at most 2031615.
  Type(panel().edit(2), "2031616", /*pressEnter=*/false);
  EXPECT_EQ(dialogs.boxes.back().text, "Please insert a number between 0000007 to 2031615");
  EXPECT_EQ(panel().edit(2)->text(), "0203161");
}

// 2031615 to 2101248 pass key by key, as they begin longer Long capcodes, yet the board cannot
// store them: the whole value is refused when the edit is left, by Enter or by the mouse.
TEST_F(CapcodePanelTest, AValueTheBoardCannotStoreIsRefusedOnExit) {
  Open();
  const struct {
    AddressMode mode;
    int slot;
    const char* text;
    bool pressEnter;
    const char* message;
  } cases[] = {
      {AddressMode::Short, 4, "2031615", true,
       "Capcode 2031615 has no form the board can store in Short address mode !"},
      {AddressMode::Long, 0, "2050000", false,
       "Capcode 2050000 has no form the board can store in Long address mode !"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ChooseMode(c.mode);
    dialogs.boxes.clear();
    app::FieldEdit* edit = panel().edit(c.slot);
    Type(edit, c.text, c.pressEnter);
    if (!c.pressEnter) window().FocusSink();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes.back().text, c.message);
    EXPECT_EQ(window().focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), c.text);
    // A stored value typed over it lets the edit go.
    Type(edit, "1500000");
    EXPECT_EQ(window().focusWidget(), Named<QLineEdit>(window(), "edtNull"));
    EXPECT_EQ(ReadCapcodeRecord(image(), c.slot), (CapcodeRecord{1500000 + 32768, false}));
  }
}

// Text pasted from the context menu (or dropped) comes without a key release; it is checked and
// stored as typed text is, so leaving the edit keeps it.
TEST_F(CapcodePanelTest, TextPastedWithoutAKeyIsCheckedAndKept) {
  Open();
  panel().edit(2)->setFocus(Qt::MouseFocusReason);
  panel().edit(2)->insert("1234500");
  window().FocusSink();
  EXPECT_EQ(ReadCapcodeRecord(image(), 2), (CapcodeRecord{1234500 + 32768, false}));
  EXPECT_EQ(panel().edit(2)->text(), "1234500");
  EXPECT_TRUE(dialogs.boxes.empty());

  panel().edit(3)->setFocus(Qt::MouseFocusReason);
  panel().edit(3)->insert("12ab");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes.back().text, "Please insert a numeric!");
  EXPECT_EQ(panel().edit(3)->text(), "0000001");
  EXPECT_EQ(window().focusWidget(), panel().edit(3));
}

TEST_F(CapcodePanelTest, ClearingSlotZeroInLongModeClearsBothEnableBits) {
  Open();
  ChooseMode(AddressMode::Long);
  Type(panel().edit(0), "2101249");
  EXPECT_EQ(image().byte(99) & 0x03, 0x03);
  panel().enableBox(0)->click();
  EXPECT_EQ(image().byte(99) & 0x03, 0x00);
  panel().enableBox(0)->click();
  EXPECT_EQ(image().byte(99) & 0x03, 0x03);
}

TEST_F(CapcodePanelTest, EnableBoxesFollowTheImageWithoutWritingBack) {
  Open();
  panel().enableBox(9)->click();
  EXPECT_EQ(image().byte(98) & 0x02, 0x02);
  EXPECT_EQ(image().byte(130) * 256 + image().byte(131), 0x0101);  // groups 8 and 0
  // Refilling under the refresh flag changes the boxes but writes no enable bit or record back;
  // only the group map follows.
  image().setByte(98, 0x00);
  const ConfigImage before = image();
  panel().RefreshCapcodes();
  EXPECT_FALSE(panel().enableBox(9)->isChecked());
  EXPECT_EQ(image().byte(98), 0x00);
  EXPECT_EQ(image().byte(99), before.byte(99));
  for (int record = 0; record < 16; ++record)
    EXPECT_EQ(ReadCapcodeRecord(image(), record), ReadCapcodeRecord(before, record));
  EXPECT_EQ(image().byte(130) * 256 + image().byte(131), 0x0100);
}

TEST_F(CapcodePanelTest, ALongPairInRecordTwoSelectsLongAndSkipsTheNextSlot) {
  Open();
  panel().edit(3)->setText("untouched");
  WriteCapcodeRecord(image(), 2, {0x000001, true});
  WriteCapcodeRecord(image(), 3, {0x1FFFFE, true});
  image().setByte(2106, 0);
  window().RefreshAll();
  EXPECT_EQ(panel().cboSrtLng()->currentText(), "Long");
  EXPECT_FALSE(panel().edit(1)->isVisible());
  EXPECT_FALSE(panel().enableBox(1)->isVisible());
  EXPECT_EQ(panel().edit(2)->text(), "0002101249");
  EXPECT_EQ(panel().edit(3)->text(), "untouched");
  EXPECT_EQ(image().byte(2106), 0);  // the refill does not store the mode
}

TEST_F(CapcodePanelTest, ChoosingShortKeepsALongCapcodeWhole) {
  Open();
  ChooseMode(AddressMode::Long);
  Type(panel().edit(0), "3223326721");
  ChooseMode(AddressMode::Short);
  // Slot 0 still holds the long pair, so the refill selects Long again.
  EXPECT_EQ(ReadCapcodeRecord(image(), 0), (CapcodeRecord{0x1F8001, true}));
  EXPECT_EQ(ReadCapcodeRecord(image(), 1), (CapcodeRecord{0x1E0001, true}));
  EXPECT_EQ(panel().edit(0)->text(), "3223326721");
  EXPECT_EQ(panel().cboSrtLng()->currentText(), "Long");
  EXPECT_EQ(image().byte(2106), 0);
}

TEST_F(CapcodePanelTest, ExitHookRunsAfterTheRefill) {
  Open();
  std::vector<std::pair<int, QString>> seen;
  panel().onCapcodeExit = [&](int slot) { seen.emplace_back(slot, panel().edit(slot)->text()); };
  Type(panel().edit(6), "77");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(6, QString("0000077")));
}

}  // namespace
}  // namespace tuva::testing
