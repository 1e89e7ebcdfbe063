// The Pager and System commands through the menus, against the simulated board on a
// pseudo-terminal.
#include "AppTestSupport.h"
#include "files/ConfigFile.h"
#include "link/Protocol.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {
namespace {

class DeviceCommandsTest : public WindowTest {
 protected:
  app::TfrmAir& OpenOn(sim::SimOptions options = {}) {
    board_ = std::make_unique<ScopedSimBoard>(std::move(options));
    return Open({board_->path()});
  }
  sim::SimServer& board() { return board_->server(); }

 private:
  std::unique_ptr<ScopedSimBoard> board_;
};

TEST_F(DeviceCommandsTest, ReadShowsTheBoardsConfiguration) {
  ConfigImage onBoard = ConfigImage::StartupImage();
  EncodeCapcode(onBoard, 0, 1654321, false);
  const QString table = cwd.file("board.tbl");
  ASSERT_TRUE(SaveConfigFile(table.toStdString(), onBoard).ok());
  sim::SimOptions options;
  options.contents = sim::SimContents::Table;
  options.tablePath = table.toStdString();
  app::TfrmAir& w = OpenOn(options);
  // The editors are refilled under the load flag, so that none writes back while it changes.
  std::vector<bool> loadFlags;
  w.AddRefresher(app::RefreshStep::SourceMode, [&] { loadFlags.push_back(w.guards().imageLoad); });

  Named<QAction>(w, "Read1")->trigger();
  EXPECT_EQ(loadFlags, std::vector<bool>{true});
  EXPECT_FALSE(w.guards().imageLoad);
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Read Sucess!"});
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "1654321");
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Ready");
  EXPECT_EQ(Named<QProgressBar>(w, "PB1")->value(), 0);
  EXPECT_TRUE(Named<QAction>(w, "Write1")->isEnabled());
  EXPECT_TRUE(w.canvas()->isEnabled());
  EXPECT_FALSE(w.link().port.IsOpen());
}

TEST_F(DeviceCommandsTest, ABoardWithAReadPasswordAsksForItExactly) {
  sim::SimOptions options;
  options.readPassword = "12.34";
  app::TfrmAir& w = OpenOn(options);
  dialogs.texts = {"12.3", QString(), "12.34"};
  Named<QAction>(w, "Read1")->trigger();
  Named<QAction>(w, "Read1")->trigger();
  EXPECT_EQ(dialogs.shownTexts(), (QStringList{"Read Password Error !", "Read Password Error !"}));
  Named<QAction>(w, "Read1")->trigger();
  EXPECT_EQ(dialogs.shownTexts().back(), "Read Sucess!");
  ASSERT_EQ(dialogs.inputs.size(), 3u);
  EXPECT_EQ(dialogs.inputs[0].caption, "Check Read Password");
  EXPECT_EQ(dialogs.inputs[0].text, "Please Input Read Password");
  EXPECT_EQ(image().byte(2108), '1');
}

TEST_F(DeviceCommandsTest, WriteThenVerifyAndAnEditLaterFailsVerify) {
  app::TfrmAir& w = OpenOn();
  Type(w.capcodes()->edit(3), "555");
  Named<QAction>(w, "Write1")->trigger();
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Transmit Success!"});
  EXPECT_EQ(board().ReadFlash(kConfigBase + 173, 3), (std::vector<std::uint8_t>{0x00, 0x82, 0x2B}));
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Ready");

  Named<QAction>(w, "Verify1")->trigger();
  EXPECT_EQ(dialogs.shownTexts().back(), "Verify Success!");

  Type(w.capcodes()->edit(3), "556");
  Named<QAction>(w, "Verify1")->trigger();
  EXPECT_TRUE(dialogs.shownTexts().back().startsWith("Verify Error! Htag = "));
  EXPECT_TRUE(Named<QAction>(w, "Write1")->isEnabled());
}

TEST_F(DeviceCommandsTest, CheckFirmwareShowsTheModelAndVersion) {
  app::TfrmAir& w = OpenOn();
  Named<QAction>(w, "CheckFirmware1")->trigger();
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Model : FLEX    Version = 2.41"});
}

TEST_F(DeviceCommandsTest, NoOtherCommandRunsWhileAnOperationWaits) {
  sim::SimOptions options;
  options.contents = sim::SimContents::Erased;
  app::TfrmAir& w = OpenOn(options);
  bool checked = false;
  dialogs.whileModal = [&] {
    if (checked) return;
    checked = true;
    EXPECT_FALSE(Named<QAction>(w, "Read1")->isEnabled());
    EXPECT_FALSE(Named<QAction>(w, "Write1")->isEnabled());
    EXPECT_FALSE(Named<QAction>(w, "Verify1")->isEnabled());
    EXPECT_FALSE(Named<QAction>(w, "Open2")->isEnabled());
    EXPECT_FALSE(w.canvas()->isEnabled());
    w.btnReadClick();  // a shortcut that slipped through does nothing
    w.Open2Click();
  };
  dialogs.yesNo.push_back(false);
  Named<QAction>(w, "Write1")->trigger();
  ASSERT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(dialogs.questions[0].caption, "Version");
  EXPECT_EQ(dialogs.questions[0].text, "The program data is wrong ! Are you sure to overwrite ?");
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_TRUE(Named<QAction>(w, "Read1")->isEnabled());
  EXPECT_TRUE(Named<QAction>(w, "Write1")->isEnabled());
  EXPECT_TRUE(w.canvas()->isEnabled());
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Ready");
}

TEST_F(DeviceCommandsTest, ARefusedEntryStopsTheCommandBeforeItStarts) {
  app::TfrmAir& w = OpenOn();
  Type(w.frequency()->edtFreq(), "4620100", /*pressEnter=*/false);
  Named<QAction>(w, "Write1")->trigger();
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Channel Spacing Error!"});
  EXPECT_TRUE(board().Requests().empty());
}

// A chosen device that is not there gets the reason, told first (it is the cause), and then the
// usual message, as a server does.
TEST_F(WindowTest, AMissingBoardIsReported) {
  const QString device = cwd.file("ttyNone");
  app::TfrmAir& w = Open({device.toStdString()});
  Named<QAction>(w, "CheckFirmware1")->trigger();
  EXPECT_EQ(dialogs.shownTexts(),
            (QStringList{"The serial port could not be opened:\n  " + device +
                             ": no such device\nCheck that the adapter is plugged in and that no "
                             "other program holds the port.",
                         "The target board is not found !"}));
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Ready");
}

}  // namespace
}  // namespace tuva::testing
