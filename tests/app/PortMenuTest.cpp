// Pager > Port: the devices through a made-up sysfs, the choice as the only device Read opens, and
// the choice remembered across a restart.
#include "AppTestSupport.h"
#include "app/PortMenu.h"
#include "files/ConfigFile.h"
#include "support/FakeSysfs.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {
namespace {

// Two adapters with a board on each: a PL2303 (searched) and an FTDI (not searched today).
class PortMenuTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    boardA_ = Board("a.tbl", 1111111);
    boardB_ = Board("b.tbl", 2022222);
    prolific = sysfs.UsbAdapter("ttyUSB0", "pl2303", "USB-Serial Controller", boardA_->path());
    ftdi = sysfs.UsbAdapter("ttyUSB1", "ftdi_sio", "FT232R USB UART", boardB_->path());
    beforeShow = [this](app::TfrmAir& w) {
      w.session().sysfsRoot = sysfs.ttyRoot();
      w.session().devRoot = sysfs.devRoot();
    };
  }
  std::unique_ptr<ScopedSimBoard> Board(const QString& table, std::uint32_t capcode) {
    ConfigImage contents = ConfigImage::StartupImage();
    EncodeCapcode(contents, 0, capcode, false);
    EXPECT_TRUE(SaveConfigFile(cwd.file(table).toStdString(), contents).ok());
    sim::SimOptions options;
    options.contents = sim::SimContents::Table;
    options.tablePath = cwd.file(table).toStdString();
    return std::make_unique<ScopedSimBoard>(options);
  }
  // The menu as it opens: its items by text.
  QList<QAction*> Items() {
    QMenu* menu = window().portMenu()->menu();
    Q_EMIT menu->aboutToShow();
    return menu->actions();
  }
  QAction* Item(const std::string& device) {
    for (QAction* action : Items())
      if (action->data().toString() == QString::fromStdString(device)) return action;
    return nullptr;
  }
  QString ReadCapcode() {
    window().Read1->trigger();
    return window().capcodes()->edit(0)->text();
  }

  FakeSysfs sysfs;
  std::string prolific;
  std::string ftdi;

 private:
  std::unique_ptr<ScopedSimBoard> boardA_;
  std::unique_ptr<ScopedSimBoard> boardB_;
};

TEST_F(PortMenuTest, AChosenDeviceIsTheOnlyOneReadUses) {
  app::TfrmAir& w = Open();
  const QList<QAction*> items = Items();
  ASSERT_EQ(items[0]->text(), "&Automatic");
  EXPECT_TRUE(items[0]->isChecked());
  ASSERT_NE(Item(prolific), nullptr);
  EXPECT_EQ(Item(prolific)->text(),
            QString::fromStdString(prolific) + "  -  pl2303, USB-Serial Controller  [searched]");
  EXPECT_EQ(Item(ftdi)->text(), QString::fromStdString(ftdi) + "  -  ftdi_sio, FT232R USB UART");
  EXPECT_EQ(ReadCapcode(), "1111111");  // the search finds the PL2303

  Item(ftdi)->trigger();
  EXPECT_EQ(w.session().ports, std::vector<std::string>{ftdi});
  EXPECT_TRUE(w.StatusText->toolTip().contains(QString::fromStdString(ftdi)));
  EXPECT_TRUE(Item(ftdi)->isChecked());
  EXPECT_EQ(ReadCapcode(), "2022222");

  // An adapter plugged in later is there the next time the menu opens.
  const std::string later = sysfs.UsbAdapter("ttyACM0", "cdc_acm", "Pico");
  EXPECT_NE(Item(later), nullptr);

  Items()[0]->trigger();
  EXPECT_TRUE(w.session().ports.empty());
  EXPECT_EQ(ReadCapcode(), "1111111");
}

TEST_F(PortMenuTest, TheChoiceSurvivesARestartUnlessItIsGoneOrThePortOptionIsGiven) {
  Open();
  Item(ftdi)->trigger();

  app::TfrmAir& again = Open();
  EXPECT_EQ(again.session().ports, std::vector<std::string>{ftdi});
  EXPECT_TRUE(Item(ftdi)->isChecked());

  app::TfrmAir& given = Open({prolific});
  EXPECT_EQ(given.session().ports, std::vector<std::string>{prolific});
  EXPECT_TRUE(given.StatusText->toolTip().contains("command line"));

  sysfs.Unplug("ttyUSB1");
  app::TfrmAir& missing = Open();
  EXPECT_TRUE(missing.session().ports.empty());
  EXPECT_TRUE(Items()[0]->isChecked());
  EXPECT_EQ(missing.StatusText->text(), " The port " + QString::fromStdString(ftdi) +
                                            " is not there; the board is searched for");
  EXPECT_TRUE(dialogs.boxes.empty());
}

}  // namespace
}  // namespace tuva::testing
