// The board's serial output: UART selections, the message delay, the control flags with the
// enabling of the page, the time update, and the control table slots of the feature editors.
#include "FeatureEditorsTestSupport.h"
#include "app/CapcodePanel.h"

namespace tuva::testing {
namespace {

class SerialOutputPanelTest : public FeatureEditorsTest {
 protected:
  // The eight controls that exist only while function commands are not the board's own.
  std::vector<QWidget*> FunctionCommandControls() {
    std::vector<QWidget*> controls;
    for (int k = 0; k < 4; ++k) {
      controls.push_back(strings().chkOpCmd[k]);
      controls.push_back(strings().edtFC[k]);
    }
    return controls;
  }
};

TEST_F(SerialOutputPanelTest, BaudRateIsStoredAsItsCodeAndAnUnknownCodeKeepsTheSelection) {
  Open();
  serial().chkCtl[5]->click();
  Choose(serial().ComboBox5, 4);
  EXPECT_EQ(image().byte(0x003), 0x0C);

  image().setByte(0x003, 0x34);
  window().RefreshAll();
  EXPECT_EQ(serial().ComboBox5->currentText(), "9600");
  image().setByte(0x003, 0x00);  // no baud code at all
  window().RefreshAll();
  EXPECT_EQ(serial().ComboBox5->currentText(), "9600");
  EXPECT_EQ(image().byte(0x003), 0x00);  // showing never writes

  Choose(serial().ComboBox3, 1);  // stop bits "2", through the handler shared with data bits
  Choose(serial().ComboBox4, 0);  // data bits "7"
  EXPECT_EQ(Bytes(0x018, 2), (std::vector<int>{2, 7}));
  image().setByte(0x018, 3);
  image().setByte(0x019, 9);
  window().RefreshAll();
  EXPECT_EQ(serial().ComboBox3->currentIndex(), -1);
  EXPECT_EQ(serial().ComboBox4->currentIndex(), -1);
}

TEST_F(SerialOutputPanelTest, MessageDelayIsStoredLittleEndianWithItsInUseByte) {
  Open();
  serial().chkCtl[5]->click();
  Type(serial().edtMDly, "300");
  EXPECT_EQ(image().byte(0x82C), 0x01);
  EXPECT_EQ(Bytes(0x833, 2), (std::vector<int>{0x2C, 0x01}));
  EXPECT_EQ(serial().edtMDly->text(), "300");

  // Entering and leaving without typing: nothing changes, the stored value is shown again.
  Type(serial().edtMDly, "");
  EXPECT_EQ(serial().edtMDly->text(), "300");
  EXPECT_EQ(Bytes(0x833, 2), (std::vector<int>{0x2C, 0x01}));

  Type(serial().edtMDly, "0");
  EXPECT_EQ(Bytes(0x82C, 1), (std::vector<int>{0x00}));
  EXPECT_EQ(Bytes(0x833, 2), (std::vector<int>{0x00, 0x00}));
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(SerialOutputPanelTest, RefusedDelaysKeepTheImageAndReturnToTheEdit) {
  Open();
  serial().chkCtl[5]->click();
  Type(serial().edtMDly, "65000");
  const ConfigImage before = image();

  Type(serial().edtMDly, "-5");
  EXPECT_EQ(LastBox().caption, "Vantel");
  EXPECT_EQ(LastBox().text, "Please insert a number between 0 and 65000 !");
  EXPECT_EQ(LastBox().icon, MessageIcon::Exclamation);
  EXPECT_EQ(window().focusWidget(), serial().edtMDly);
  EXPECT_EQ(serial().edtMDly->text(), "65000");

  TypeAfresh(serial().edtMDly, "5x");
  EXPECT_EQ(LastBox().caption, "FVantel");
  EXPECT_EQ(LastBox().text, "Please insert a numeric!");
  EXPECT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(image(), before);
}

TEST_F(SerialOutputPanelTest, SerialOutEnableSwitchesThePageAndFunCmdEnableTheCodes) {
  Open();
  EXPECT_FALSE(serial().ComboBox5->isEnabled());
  EXPECT_FALSE(strings().grpCap[0]->isEnabled());

  serial().chkCtl[5]->click();
  EXPECT_EQ(image().byte(0x839), 0x01);
  EXPECT_EQ(image().byte(0x833), 0x00);  // not the delay's byte
  EXPECT_TRUE(serial().ComboBox5->isEnabled());
  EXPECT_TRUE(strings().ComboBox1->isEnabled());
  EXPECT_TRUE(security().chkFunPass->isEnabled());
  for (QWidget* control : FunctionCommandControls()) EXPECT_TRUE(control->isEnabled());
  EXPECT_EQ(strings().grpCap[3]->palette().color(QPalette::Active, QPalette::WindowText),
            QColor(Qt::black));

  serial().chkCtl[1]->click();
  EXPECT_EQ(image().byte(0x82F), 0x01);
  for (QWidget* control : FunctionCommandControls()) EXPECT_FALSE(control->isEnabled());
  EXPECT_TRUE(serial().ComboBox5->isEnabled());
  EXPECT_TRUE(strings().edtHeader[2]->isEnabled());

  serial().chkCtl[5]->click();
  EXPECT_FALSE(serial().grpPara->isEnabled());
  EXPECT_FALSE(strings().edtHeader[0]->isEnabled());
  EXPECT_EQ(strings().grpCap[0]->palette().color(QPalette::Active, QPalette::WindowText),
            QColor(0x80, 0x80, 0x80));

  // A refill that checks a box runs its handler: the flag is stored again, the rules applied.
  image().setByte(0x839, 0x07);
  window().RefreshAll();
  EXPECT_EQ(image().byte(0x839), 0x01);
  EXPECT_TRUE(serial().ComboBox2->isEnabled());
}

TEST_F(SerialOutputPanelTest, TheAddressModeAndTheSerialRulesDoNotOverrideEachOther) {
  Open();
  app::CapcodePanel& capcodes = *window().capcodes();
  const auto choose = [&](AddressMode mode) {
    capcodes.cboSrtLng()->setCurrentIndex(static_cast<int>(mode));
    capcodes.cboSrtLngClick();
  };
  // Serial output off: going back to Short does not bring capcode 2's strings back alone.
  choose(AddressMode::Long);
  choose(AddressMode::Short);
  EXPECT_FALSE(strings().grpCap[1]->isEnabled());

  // On, with the board's own function commands: capcode 2's code box stays off in Short.
  serial().chkCtl[5]->click();
  serial().chkCtl[1]->click();
  choose(AddressMode::Long);
  EXPECT_FALSE(strings().grpCap[1]->isEnabled());
  choose(AddressMode::Short);
  EXPECT_TRUE(strings().edtHeader[1]->isEnabled());
  EXPECT_FALSE(strings().chkOpCmd[1]->isEnabled());
}

TEST_F(SerialOutputPanelTest, TimeUpdateWritesBothFlagsAndOneBit) {
  Open();
  serial().chkCtl[5]->click();
  image().setByte(0x037, 0x25);
  serial().CheckBox20->click();
  EXPECT_EQ(image().byte(0x848), 0x00);
  EXPECT_EQ(image().byte(0x9A4), 0x00);
  EXPECT_EQ(image().byte(0x037), 0x65);
  serial().CheckBox20->click();
  EXPECT_EQ(Bytes(0x848, 1), (std::vector<int>{0xFF}));
  EXPECT_EQ(image().byte(0x9A4), 0xFF);
  EXPECT_EQ(image().byte(0x037), 0x25);
}

TEST_F(SerialOutputPanelTest, FamiliesLandInTheirControlTableSlots) {
  Open();
  const app::ControlTable& table = window().controls();
  EXPECT_EQ(table.at(64), strings().chkOpCmd[0]);
  EXPECT_EQ(table.at(73), serial().chkCtl[5]);
  EXPECT_EQ(table.at(82), outputs().chkOutput[8]);
  EXPECT_EQ(table.at(86), strings().edtHeader[3]);
  EXPECT_EQ(table.at(90), strings().edtTrailer[3]);
  EXPECT_EQ(table.at(94), strings().edtTimeout[3]);
  EXPECT_EQ(table.at(98), strings().edtFC[3]);
  EXPECT_EQ(table.at(107), outputs().edtPlsPer[8]);
  EXPECT_EQ(table.at(123), prompts().edtPrompt[15]);
  for (QWidget* loose :
       {static_cast<QWidget*>(security().CheckBox7), static_cast<QWidget*>(security().chkFunPass),
        static_cast<QWidget*>(serial().CheckBox18), static_cast<QWidget*>(serial().CheckBox19),
        static_cast<QWidget*>(serial().CheckBox20)})
    EXPECT_EQ(table.SlotOf(loose), -1) << loose->objectName().toStdString();
  EXPECT_EQ(prompts().edtPrompt[3]->property("PromptOffset").toInt(), 2207);
  EXPECT_FALSE(security().CheckBox7->isVisibleTo(&window()));
}

}  // namespace
}  // namespace tuva::testing
