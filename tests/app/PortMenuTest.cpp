// Pager > Port: the devices through a made-up sysfs, the choice as the only device Read opens, the
// choice remembered across a restart, and serial servers named by URL.
#include <QLabel>
#include <QLineEdit>
#include <QSet>

#include "AppTestSupport.h"
#include "app/PortMenu.h"
#include "files/ConfigFile.h"
#include "sim/SimListener.h"
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
      w.link().sysfsRoot = sysfs.ttyRoot();
      w.link().devRoot = sysfs.devRoot();
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
  // Pager > Port > Network port..., answered with `url`.
  void AskNetworkPort(const QString& url) {
    dialogs.texts = {url};
    for (QAction* action : Items())
      if (action->objectName() == "PortNetwork") return action->trigger();
    ADD_FAILURE() << "no Network port item";
  }
  QString ReadCapcode() {
    Named<QAction>(window(), "Read1")->trigger();
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
  EXPECT_EQ(Item(prolific)->text(), "&1 " + QString::fromStdString(prolific) +
                                        "  -  pl2303, USB-Serial Controller  [searched]");
  EXPECT_EQ(Item(ftdi)->text(),
            "&2 " + QString::fromStdString(ftdi) + "  -  ftdi_sio, FT232R USB UART");
  EXPECT_EQ(Named<QLabel>(w, "StatusPort")->text(), "Port: Automatic (the board is searched for)");
  EXPECT_EQ(ReadCapcode(), "1111111");  // the search finds the PL2303

  Item(ftdi)->trigger();
  EXPECT_EQ(w.link().ports, std::vector<std::string>{ftdi});
  EXPECT_EQ(Named<QLabel>(w, "StatusPort")->text(), "Port: " + QString::fromStdString(ftdi));
  EXPECT_TRUE(Item(ftdi)->isChecked());
  EXPECT_EQ(ReadCapcode(), "2022222");

  // An adapter plugged in later is there the next time the menu opens.
  const std::string later = sysfs.UsbAdapter("ttyACM0", "cdc_acm", "Pico");
  EXPECT_NE(Item(later), nullptr);

  Items()[0]->trigger();
  EXPECT_TRUE(w.link().ports.empty());
  EXPECT_EQ(ReadCapcode(), "1111111");
}

TEST_F(PortMenuTest, TheChoiceSurvivesARestartUnlessItIsGoneOrThePortOptionIsGiven) {
  Open();
  Item(ftdi)->trigger();

  app::TfrmAir& again = Open();
  EXPECT_EQ(again.link().ports, std::vector<std::string>{ftdi});
  EXPECT_TRUE(Item(ftdi)->isChecked());

  app::TfrmAir& given = Open({prolific});
  EXPECT_EQ(given.link().ports, std::vector<std::string>{prolific});
  EXPECT_TRUE(Named<QLabel>(given, "StatusText")->toolTip().contains("command line"));

  sysfs.Unplug("ttyUSB1");
  app::TfrmAir& missing = Open();
  EXPECT_TRUE(missing.link().ports.empty());
  EXPECT_TRUE(Items()[0]->isChecked());
  EXPECT_EQ(
      Named<QLabel>(missing, "StatusText")->text(),
      " The port " + QString::fromStdString(ftdi) + " is not there; the board is searched for");
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(PortMenuTest, ANetworkPortIsChosenRememberedAndListed) {
  const auto boardC = Board("c.tbl", 1033333);
  sim::SimListener listener(boardC->path(), 0);
  listener.Start();
  const std::string url = "socket://127.0.0.1:" + std::to_string(listener.Port());

  app::TfrmAir& w = Open();
  AskNetworkPort(" SOCKET://127.0.0.1:" + QString::number(listener.Port()) + "/ ");
  EXPECT_EQ(w.link().ports, std::vector<std::string>{url});
  EXPECT_TRUE(Named<QLabel>(w, "StatusText")->toolTip().contains(QString::fromStdString(url)));
  EXPECT_EQ(ReadCapcode(), "1033333");

  // A server is never "not there" at start: it is only reached when an operation connects.
  app::TfrmAir& again = Open();
  EXPECT_EQ(again.link().ports, std::vector<std::string>{url});
  ASSERT_NE(Item(url), nullptr);
  EXPECT_TRUE(Item(url)->isChecked());
  EXPECT_FALSE(Named<QLabel>(again, "StatusText")->text().contains("not there"));

  // Listed below the devices to be chosen again; the last four servers are kept.
  Item(ftdi)->trigger();
  Item(url)->trigger();
  EXPECT_EQ(again.link().ports, std::vector<std::string>{url});
  for (const int port : {1, 2, 3, 4}) AskNetworkPort("rfc2217://bench:" + QString::number(port));
  EXPECT_EQ(Item(url), nullptr);
  EXPECT_NE(Item("rfc2217://bench:1"), nullptr);
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Read Sucess!"});  // no box but the read's
}

TEST_F(PortMenuTest, AWrongNetworkPortIsRefusedAndChangesNothing) {
  app::TfrmAir& w = Open();
  Item(ftdi)->trigger();
  const std::vector<std::pair<QString, QString>> cases = {
      {"socket://127.0.0.1", "no port: give HOST:PORT"},
      {"rfc2217://bench:0", "port \"0\" is not a number from 1 to 65535"},
      {"rfc2217://bench:65536", "port \"65536\" is not a number from 1 to 65535"},
      {"telnet://bench:23", "unknown scheme \"telnet\" (rfc2217:// or socket://)"},
      {"bench:23", "not a network port (rfc2217://HOST:PORT or socket://HOST:PORT)"},
  };
  for (const auto& [url, problem] : cases) {
    dialogs.refusals.clear();
    AskNetworkPort(url);  // refused in the box, which is then cancelled
    ASSERT_EQ(dialogs.refusals.size(), 1u) << url.toStdString();
    EXPECT_EQ(dialogs.refusals[0].caption, "Network port");
    EXPECT_EQ(dialogs.refusals[0].text, url + ": " + problem);
    EXPECT_EQ(w.link().ports, std::vector<std::string>{ftdi});
  }
  EXPECT_TRUE(dialogs.boxes.empty());

  app::TfrmAir& again = Open();
  EXPECT_EQ(again.link().ports, std::vector<std::string>{ftdi});
  for (QAction* action : Items())
    EXPECT_FALSE(action->data().toString().contains("://")) << action->text().toStdString();
}

// The box itself: OK on a wrong URL keeps the box open with the URL as typed and the reason under
// it; the mended URL closes it.
TEST_F(PortMenuTest, TheNetworkPortBoxKeepsARefusedUrl) {
  app::TfrmAir& w = Open();
  app::CheckedInputDialog box("Network port", "Serial server:", "rfc2217://",
                              &app::PortMenu::NetworkPortRefusal, &w);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  box.field()->selectAll();
  QTest::keyClicks(box.field(), "rfc2217://bench:0");
  QTest::keyClick(box.field(), Qt::Key_Return);
  EXPECT_TRUE(box.isVisible());
  EXPECT_EQ(box.field()->text(), "rfc2217://bench:0");
  EXPECT_TRUE(box.refusalLabel()->isVisible());
  EXPECT_EQ(box.refusalLabel()->text(),
            "rfc2217://bench:0: port \"0\" is not a number from 1 to 65535");

  QTest::keyClick(box.field(), Qt::Key_Backspace);
  QTest::keyClicks(box.field(), "2217");
  EXPECT_FALSE(box.refusalLabel()->isVisible());
  QTest::keyClick(box.field(), Qt::Key_Return);
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.result(), QDialog::Accepted);
}

// Every entry of the menu has a mnemonic of its own (the ninth device or server and those after
// it have none left), and Clear List forgets the servers but the one in use.
TEST_F(PortMenuTest, EntriesHaveMnemonicsAndServersCanBeForgotten) {
  app::TfrmAir& w = Open();
  for (const int port : {1, 2}) AskNetworkPort("rfc2217://bench:" + QString::number(port));
  QSet<QChar> used;
  for (QAction* entry : Items()) {
    if (entry->isSeparator() || !entry->isEnabled()) continue;
    const QString text = entry->text();
    const qsizetype amp = text.indexOf('&');
    ASSERT_TRUE(amp >= 0 && amp + 1 < text.size()) << text.toStdString();
    EXPECT_FALSE(used.contains(text[amp + 1].toLower())) << text.toStdString();
    used.insert(text[amp + 1].toLower());
  }

  QAction* clear = nullptr;
  for (QAction* entry : Items())
    if (entry->objectName() == "PortClearList") clear = entry;
  ASSERT_NE(clear, nullptr);
  EXPECT_EQ(clear->text().remove('&'), "Clear List");
  clear->trigger();
  EXPECT_EQ(Item("rfc2217://bench:1"), nullptr);
  EXPECT_NE(Item("rfc2217://bench:2"), nullptr);  // in use
  EXPECT_EQ(w.link().ports, std::vector<std::string>{"rfc2217://bench:2"});
}

}  // namespace
}  // namespace tuva::testing
