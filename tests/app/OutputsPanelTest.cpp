// Outputs: power-up bits, the special outputs, the periods in seconds and the pre-scaler.
#include "FeatureEditorsTestSupport.h"

namespace tuva::testing {
namespace {

class OutputsPanelTest : public FeatureEditorsTest {
 protected:
  app::FieldEdit* Period(int index) { return outputs().edtPlsPer[index]; }
  int Units(int index) { return image().byte(0x1E0 + index); }
};

TEST_F(OutputsPanelTest, PeriodsAreTypedInSecondsOfTheCurrentPreScaler) {
  Open();
  ASSERT_EQ(outputs().cboScaler->currentText(), "0.1 sec");
  Type(Period(0), "2.5");
  EXPECT_EQ(Units(0), 25);
  Type(Period(1), "25.5");
  EXPECT_EQ(Units(1), 255);
  Type(Period(2), "1.25");
  EXPECT_EQ(Units(2), 12);
  EXPECT_EQ(Period(2)->text(), "1.2");
  EXPECT_TRUE(dialogs.boxes.empty());

  Type(Period(3), "25.6");
  EXPECT_EQ(LastBox().caption, "Vantel");
  EXPECT_EQ(LastBox().text, "Please insert a number between 0 and 25.5");
  EXPECT_EQ(Units(3), 10);
  EXPECT_EQ(Period(3)->text(), "1");
  EXPECT_EQ(window().focusWidget(), Period(3));

  Choose(outputs().cboScaler, 1);
  EXPECT_EQ(outputs().lblScaler->text(), "Max.=255 sec");
  TypeAfresh(Period(4), "100");
  EXPECT_EQ(Units(4), 100);
  EXPECT_EQ(Period(4)->text(), "100");
}

TEST_F(OutputsPanelTest, TextsThatAreNoNumberAreRefusedAndStoreNothing) {
  Open();
  for (const char* text : {"1..2", "."}) {
    dialogs.boxes.clear();
    TypeAfresh(Period(5), text);
    ASSERT_EQ(dialogs.boxes.size(), 1u) << text;
    EXPECT_EQ(LastBox().text, "Please insert a numeric!");
    EXPECT_EQ(Units(5), 10);
    EXPECT_EQ(Period(5)->text(), "1");
  }

  // The key filter lets digits and the point through and warns about anything else.
  dialogs.boxes.clear();
  TypeAfresh(Period(6), "2x5");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(LastBox().caption, "Vantel");
  EXPECT_EQ(LastBox().text, "Please insert a numeric !");
  EXPECT_EQ(Units(6), 250);
}

TEST_F(OutputsPanelTest, ChangingThePreScalerRescalesEveryPeriod) {
  Open();
  Type(Period(0), "2.5");
  Choose(outputs().cboScaler, 1);
  EXPECT_EQ(image().byte(0x1F5), 10);
  EXPECT_EQ(Units(0), 2);
  EXPECT_EQ(Period(0)->text(), "2");
  Choose(outputs().cboScaler, 0);
  EXPECT_EQ(Units(0), 20);
  EXPECT_EQ(Period(0)->text(), "2");

  Choose(outputs().cboScaler, 5);
  Type(Period(1), "50");
  EXPECT_EQ(Units(1), 2);
  Choose(outputs().cboScaler, 0);
  EXPECT_EQ(Units(1), 255);
  EXPECT_EQ(outputs().lblScaler->text(), "Max.=25.5 sec");
}

TEST_F(OutputsPanelTest, AnUnknownPreScalerByteKeepsTheItemShown) {
  Open();
  Choose(outputs().cboScaler, 1);
  image().setByte(0x1F5, 0xFF);
  image().setByte(0x1E0, 3);
  window().RefreshAll();
  EXPECT_EQ(outputs().cboScaler->currentIndex(), 1);
  EXPECT_EQ(image().byte(0x1F5), 10);
  EXPECT_EQ(Units(0), 76);  // 3 x 255 / 10
  Type(Period(0), "30");
  EXPECT_EQ(Units(0), 30);  // converted with the factor applied last
}

TEST_F(OutputsPanelTest, OutputBoxesWriteTheirOwnBitOrFlagOnly) {
  Open();
  image().setByte(0x838, 0x21);
  outputs().chkOutput[8]->click();
  EXPECT_EQ(image().byte(0x838), 0x31);
  outputs().chkOutput[0]->click();
  EXPECT_EQ(image().byte(0x837), 0x01);

  // A special output takes a pin but leaves the output it takes editable.
  outputs().chkSyn->click();
  EXPECT_EQ(image().byte(0x9A8), 0x00);
  EXPECT_TRUE(outputs().chkOutput[5]->isEnabled());
  EXPECT_TRUE(Period(5)->isEnabled());
  EXPECT_EQ(outputs().chkSyn->toolTip(),
            "If \"SYN. Pin Output\" is enabled then Output 6 will be unavailable");
}

}  // namespace
}  // namespace tuva::testing
