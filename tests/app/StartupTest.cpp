// Start-up: the window's chrome, the control table, the refill from the built-in image and the
// default file of the working directory.
#include <QCheckBox>
#include <QMenuBar>

#include "AppTestSupport.h"
#include "files/ConfigFile.h"

namespace tuva::testing {
namespace {

using app::TfrmAir;

TEST_F(WindowTest, ChromeHasTheMenusShortcutsAndStatusBar) {
  TfrmAir& w = Open();
  EXPECT_EQ(w.windowTitle(), "Tarnhollow Vantel_Tuva Programmer Version 2.42");
  EXPECT_EQ(w.objectName(), "frmAir");
  struct Item {
    QAction* action;
    const char* name;
    const char* text;
    QKeySequence keys;
  };
  const Item items[] = {
      {Named<QAction>(w, "Open2"), "Open2", "Open", QKeySequence("Ctrl+O")},
      {Named<QAction>(w, "Save1"), "Save1", "Save", QKeySequence("Ctrl+S")},
      {Named<QAction>(w, "SaveAs1"), "SaveAs1", "Save As...", QKeySequence("Ctrl+A")},
      {Named<QAction>(w, "Exit1"), "Exit1", "Exit", QKeySequence()},
      {Named<QAction>(w, "Read1"), "Read1", "Read", QKeySequence("F3")},
      {Named<QAction>(w, "Write1"), "Write1", "Write", QKeySequence("F4")},
      {Named<QAction>(w, "Verify1"), "Verify1", "Verify", QKeySequence("F9")},
      {Named<QAction>(w, "CheckFirmware1"), "CheckFirmware1", "Check Firmware", QKeySequence()},
  };
  for (const Item& item : items) {
    EXPECT_EQ(item.action->objectName(), item.name);
    EXPECT_EQ(item.action->text().remove('&'), item.text);  // & marks the mnemonic
    EXPECT_EQ(item.action->shortcut(), item.keys) << item.name;
    EXPECT_TRUE(item.action->isVisible()) << item.name;
  }
  // The service mode's entries exist, hidden.
  EXPECT_FALSE(Named<QMenu>(w, "File1")->menuAction()->isVisible());
  EXPECT_EQ(Named<QAction>(w, "Open1")->objectName(), "Open1");
  EXPECT_FALSE(Named<QAction>(w, "S29Mode1")->isVisible());
  EXPECT_FALSE(Named<QAction>(w, "NormalMode1")->isVisible());
  EXPECT_TRUE(Named<QAction>(w, "NormalMode1")->isChecked());

  EXPECT_EQ(Named<QStatusBar>(w, "StatusBar1")->objectName(), "StatusBar1");
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Ready");
  EXPECT_EQ(Named<QProgressBar>(w, "PB1")->objectName(), "PB1");
  EXPECT_EQ(Named<QProgressBar>(w, "PB1")->value(), 0);

  // The focus sink is 1 x 1, first in the tab order, and holds the focus after start-up.
  EXPECT_EQ(w.layout().DesignBounds(Named<QLineEdit>(w, "edtNull")), QRect(0, 0, 1, 1));
  EXPECT_EQ(w.canvas()->nextInFocusChain()->objectName(), "edtNull");
  EXPECT_EQ(w.focusWidget(), Named<QLineEdit>(w, "edtNull"));
}

TEST_F(WindowTest, ControlTableHoldsEveryFamilyInItsSlots) {
  TfrmAir& w = Open();
  const auto& table = w.controls();
  for (int slot = 0; slot < 16; ++slot) {
    EXPECT_EQ(table.at(slot)->objectName(), QString("Edit%1").arg(slot + 1));
    EXPECT_EQ(app::TagOf(table.at(slot)), slot);
    const int box = slot < 6 ? slot + 1 : slot + 2;
    EXPECT_EQ(table.at(16 + slot)->objectName(), QString("CheckBox%1").arg(box));
    EXPECT_EQ(app::TagOf(table.at(16 + slot)), slot);
  }
  for (int slot = 32; slot < 64; ++slot) EXPECT_EQ(table.at(slot), nullptr) << slot;
  for (int slot = 124; slot < 128; ++slot) EXPECT_EQ(table.at(slot), nullptr) << slot;
  EXPECT_EQ(table.at(73)->objectName(), "chkCtl5");
  EXPECT_EQ(table.at(82)->objectName(), "chkOutput8");
  EXPECT_EQ(table.at(107)->objectName(), "edtPlsPer8");
  EXPECT_EQ(table.at(123)->objectName(), "edtPrompt15");
  EXPECT_EQ(table.at(111)->property("PromptOffset").toInt(), 2207);
  for (const char* loose : {"CheckBox7", "CheckBox18", "CheckBox19", "CheckBox20", "chkFunPass"}) {
    auto* control = w.findChild<QWidget*>(loose);
    ASSERT_NE(control, nullptr) << loose;
    EXPECT_EQ(table.SlotOf(control), -1) << loose;
  }
}

TEST(ControlTable, BindsFamiliesByPrefixAndTagInOrder) {
  TestApp();
  QWidget window;
  QWidget group(&window);
  const auto make = [&](const QString& name, int tag) {
    auto* widget = new QWidget(&group);
    widget->setObjectName(name);
    app::SetTag(widget, tag);
    return widget;
  };
  QWidget* ctl5 = make("chkCtl5", 5);
  QWidget* out8 = make("chkOutput8", 8);
  QWidget* per8 = make("edtPlsPer8", 8);
  QWidget* prompt3 = make("edtPrompt3", 3);
  QWidget* prompt15 = make("edtPrompt15", 15);
  make("chkFunPass", 0);  // no family
  make("edtPrompt", 16);  // Tag outside the family
  make("edtfc0", 0);      // prefixes are case-sensitive
  app::ControlTable table;
  table.Bind(&window, {}, {});
  EXPECT_EQ(table.at(73), ctl5);
  EXPECT_EQ(table.at(82), out8);
  EXPECT_EQ(table.at(107), per8);
  EXPECT_EQ(table.at(111), prompt3);
  EXPECT_EQ(table.at(123), prompt15);
  EXPECT_EQ(table.at(95), nullptr);
  EXPECT_EQ(app::PromptOffset(3), 2207);
}

TEST_F(WindowTest, StartsWithTheBuiltInImageAndStartupDefaults) {
  TfrmAir& w = Open();
  EXPECT_TRUE(dialogs.boxes.empty());  // no default file: nothing reported
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "1234567");
  EXPECT_EQ(w.capcodes()->edit(1)->text(), "1234560");
  EXPECT_EQ(w.capcodes()->edit(2)->text(), "0000001");
  EXPECT_TRUE(w.capcodes()->enableBox(0)->isChecked());
  EXPECT_FALSE(w.capcodes()->enableBox(2)->isChecked());
  EXPECT_EQ(w.capcodes()->cboSrtLng()->currentText(), "Short");
  app::FrequencyPanel* f = w.frequency();
  EXPECT_EQ(f->cboDft()->currentText(), "400-499MHz(12.5K)");
  EXPECT_EQ(f->edtFreq()->text(), "4620000");
  EXPECT_EQ(f->lblPLLR()->text(), "000300");
  EXPECT_EQ(f->lblPLLN()->text(), "0044D800");
  EXPECT_EQ(f->lblMULT()->text(), "3");
  EXPECT_EQ(f->lblCHANNEL()->text(), "12.5KHz");
  EXPECT_EQ(f->cboPolarity()->currentText(), "Normal");
  EXPECT_EQ(w.currentFileName(), cwd.file("default.tbl"));
  // The group map of the two enabled capcodes: group 8.
  EXPECT_EQ(image().byte(130), 0x01);
  EXPECT_EQ(image().byte(131), 0x00);
  EXPECT_EQ(image().byte(158), 0x01);
}

TEST_F(WindowTest, StartsWithTheDefaultFileOfTheWorkingDirectory) {
  ConfigImage saved = ConfigImage::StartupImage();
  EncodeCapcode(saved, 0, 1654321, false);
  ASSERT_TRUE(SaveConfigFile(cwd.file("default.tbl").toStdString(), saved).ok());
  TfrmAir& w = Open();
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "1654321");
  EXPECT_EQ(w.windowTitle(),
            "Tarnhollow Vantel_Tuva Programmer Version 2.42 - [" + cwd.file("default.tbl") + "]");
  EXPECT_TRUE(dialogs.fileDialogs.empty());
}

TEST_F(WindowTest, ADefaultFileWithoutTheTagIsReportedAndIgnored) {
  ConfigImage saved = ConfigImage::StartupImage();
  saved.setByte(0x84B, 'f');
  EncodeCapcode(saved, 0, 1654321, false);
  ASSERT_TRUE(SaveConfigFile(cwd.file("default.tbl").toStdString(), saved).ok());
  TfrmAir& w = Open();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text,
            "The [" + cwd.file("default.tbl") + "] is not correct format, the file will discard !");
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "1234567");
  EXPECT_EQ(w.windowTitle(), app::kMainCaption);
}

}  // namespace
}  // namespace tuva::testing
