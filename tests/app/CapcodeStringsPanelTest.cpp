// The capcode output strings: the pair edits, the collection into the image, the ranges, and the
// edits of the range shown surviving the refill after an entry in another field.
#include <QClipboard>

#include "FeatureEditorsTestSupport.h"

namespace tuva::testing {
namespace {

class CapcodeStringsPanelTest : public FeatureEditorsTest {
 protected:
  void Collect() { window().CollectCapcodeStrings(); }
  // Clicks into a pair edit at its start and types keys.
  void Keys(app::PairEdit* edit, const QString& keys) {
    edit->setFocus(Qt::MouseFocusReason);
    edit->setCursorPosition(0);
    QTest::keyClicks(edit, keys);
  }
};

TEST(PairEdit, KeepsItsFormWhileTyping) {
  TestApp();
  app::PairEdit edit(4);
  EXPECT_EQ(edit.text(), "  ;  ;  ;  ");
  QTest::keyClicks(&edit, "a1g ;B");  // g, space and ';' type nothing
  EXPECT_EQ(edit.text(), "A1;B ;  ;  ");
  QTest::keyClick(&edit, Qt::Key_Backspace);  // blanks the B, nothing moves
  QTest::keyClick(&edit, Qt::Key_Backspace);  // steps over the separator, blanks the 1
  EXPECT_EQ(edit.text(), "A ;  ;  ;  ");
  QTest::keyClicks(&edit, "23456789");  // the form is full after the last pair
  EXPECT_EQ(edit.text(), "A2;34;56;78");

  edit.setCursorPosition(3);
  QTest::keyClick(&edit, Qt::Key_Delete);
  EXPECT_EQ(edit.text(), "A2; 4;56;78");

  QGuiApplication::clipboard()->setText("0d;0a;zz");
  edit.setCursorPosition(0);
  QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(edit.text(), "0D;0A;  ;78");

  edit.selectAll();
  edit.insert("12");  // an edit that would shift the pairs is refused
  EXPECT_EQ(edit.text(), "0D;0A;  ;78");
}

TEST_F(CapcodeStringsPanelTest, AStringIsTheRunOfPairsUpToTheFirstBlankOne) {
  Open();
  serial().chkCtl[5]->click();
  Keys(strings().edtHeader[0], "4142");
  QTest::keyClick(strings().edtHeader[0], Qt::Key_Right);
  QTest::keyClick(strings().edtHeader[0], Qt::Key_Right);
  QTest::keyClicks(strings().edtHeader[0], "43");
  EXPECT_TRUE(strings().edtHeader[0]->text().startsWith("41;42;  ;43;  ;"));
  Keys(strings().edtTrailer[0], "7");  // one digit and a blank
  Collect();
  EXPECT_EQ(image().byte(0x1F6), 2);
  EXPECT_EQ(Bytes(0x206, 2), (std::vector<int>{0x41, 0x42}));
  EXPECT_EQ(image().byte(0x3E6), 1);
  EXPECT_EQ(image().byte(0x3F6), 0x07);

  strings().ShowCapcodeStrings(0);
  EXPECT_EQ(strings().edtHeader[0]->text(), "41;42" + QString(";  ").repeated(28));
  EXPECT_TRUE(strings().edtTrailer[0]->text().startsWith("07;  ;"));
}

TEST_F(CapcodeStringsPanelTest, ThirtyPairsFillTheCapcodeAndNothingBeyond) {
  Open();
  strings().edtTimeout[1]->SetPairsText(QString("FE;").repeated(30));
  image().setByte(0x5E6 + 60, 0x99);  // first timeout byte of capcode 3
  strings().edtFC[1]->SetPairsText("12;34;  ;  ");
  strings().chkOpCmd[1]->setChecked(true);
  Collect();
  EXPECT_EQ(image().byte(0x5D6 + 1), 30);
  EXPECT_EQ(Bytes(0x5E6 + 30, 30), std::vector<int>(30, 0xFE));
  EXPECT_EQ(image().byte(0x5E6 + 60), 0x99);
  EXPECT_EQ(Bytes(0x7EC + 4, 4), (std::vector<int>{0x12, 0x34, 0x00, 0x00}));
  EXPECT_EQ(image().byte(0x7DC + 1), 0x01);
}

TEST_F(CapcodeStringsPanelTest, ChangingTheRangeCollectsTheOneShownFirst) {
  Open();
  serial().chkCtl[5]->click();
  Keys(strings().edtHeader[0], "0D0A");
  Choose(strings().ComboBox1, 2);
  EXPECT_EQ(image().byte(0x1F6), 2);
  EXPECT_EQ(Bytes(0x206, 2), (std::vector<int>{0x0D, 0x0A}));
  for (int k = 0; k < 4; ++k)
    EXPECT_EQ(strings().grpCap[k]->title(), QString("Capcode #%1 ( Hex Only )").arg(9 + k));
  EXPECT_EQ(strings().edtFC[0]->text(), "79;10;00;00");
  EXPECT_EQ(strings().edtHeader[0]->text(), strings().edtHeader[0]->BlankText());

  Choose(strings().ComboBox1, 0);
  EXPECT_TRUE(strings().edtHeader[0]->text().startsWith("0D;0A;  "));
}

TEST_F(CapcodeStringsPanelTest, AnErasedCountShowsThirtyPairs) {
  Open();
  image().setByte(0x1F6 + 2, 0xFF);
  window().RefreshAll();
  EXPECT_FALSE(strings().edtHeader[2]->text().contains(' '));
  Collect();
  EXPECT_EQ(image().byte(0x1F6 + 2), 30);
}

// An entry elsewhere refills the feature fields; the range shown and its pending edits stay, so
// Save writes what the user typed. Only a new image goes back to the first range.
TEST_F(CapcodeStringsPanelTest, PendingEditsSurviveEntriesElsewhereUntilSave) {
  Open();
  serial().chkCtl[5]->click();
  Choose(strings().ComboBox1, 2);
  Keys(strings().edtHeader[0], "55");
  Type(serial().edtMDly, "");  // enter and leave: the stored delay is shown again
  Type(outputs().edtPlsPer[0], "2");
  Choose(outputs().cboScaler, 0);
  EXPECT_EQ(strings().ComboBox1->currentIndex(), 2);
  EXPECT_EQ(strings().grpCap[0]->title(), "Capcode #9 ( Hex Only )");
  EXPECT_TRUE(strings().edtHeader[0]->text().startsWith("55;"));

  Named<QAction>(window(), "Save1")->trigger();
  const QByteArray saved = ReadFile(cwd.file("default.tbl"));
  ASSERT_EQ(saved.size(), 4100);
  EXPECT_EQ(saved.at(0x1F6 + 8), 1);
  EXPECT_EQ(static_cast<unsigned char>(saved.at(0x206 + 30 * 8)), 0x55);

  Keys(strings().edtHeader[1], "66");
  window().RefreshAll();
  EXPECT_EQ(strings().ComboBox1->currentIndex(), 0);
  EXPECT_EQ(strings().grpCap[1]->title(), "Capcode #2 ( Hex Only )");
  EXPECT_EQ(image().byte(0x1F6 + 9), 0);  // the new image's strings, not collected
}

}  // namespace
}  // namespace tuva::testing
