// The service mode of the window: the password dialog, the switch of the view, the keys of the
// hidden entries, the firmware file, and firmware verify and program against the simulated board.
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>

#include "AppTestSupport.h"
#include "app/PasswordDlg.h"
#include "link/Protocol.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {
namespace {

using Runs = std::map<std::uint32_t, std::vector<std::uint8_t>>;

// 2048 bytes of block `block` that are not blank.
std::vector<std::uint8_t> BlockData(std::size_t block) {
  std::vector<std::uint8_t> bytes(kFirmwareBlockSize);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 37 + block * 11 + (i >> 8));
  return bytes;
}

std::uint32_t BlockAddress(std::size_t block) {
  return kFirmwareBase + static_cast<std::uint32_t>(block * kFirmwareBlockSize);
}

// The runs with the identification text every firmware carries at 0xEFFE0.
Runs Identified(Runs runs) {
  const std::string text = "FLEX  V02.50";
  const std::uint32_t at = kFirmwareBase + kFirmwareIdentification;
  for (auto& [start, bytes] : runs) {
    if (start <= at && start + bytes.size() >= at + text.size()) {
      std::copy(text.begin(), text.end(), bytes.begin() + (at - start));
      return runs;
    }
  }
  runs[at] = std::vector<std::uint8_t>(text.begin(), text.end());
  return runs;
}

class ServiceModeTest : public WindowTest {
 protected:
  app::TfrmAir& OpenWith(sim::SimOptions options = {}) {
    board_ = std::make_unique<ScopedSimBoard>(std::move(options));
    app::TfrmAir& w = Open({board_->path()});
    dlg_ = new app::TPasswordDlg(w, dialogs);
    return w;
  }
  app::TPasswordDlg& dlg() { return *dlg_; }
  sim::SimServer& board() { return board_->server(); }

  // Ctrl+Shift+S, the code, Enter.
  void TryCode(const QString& code) {
    if (!dlg_->isVisible()) Press(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    ASSERT_TRUE(dlg_->isVisible());
    QTest::keyClicks(dlg_->Password, code);
    QTest::keyClick(dlg_->Password, Qt::Key_Return);
  }
  void EnterServiceMode() {
    TryCode("Rook_Lyn");
    ASSERT_TRUE(window().serviceMode());
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
  }
  void Press(const QKeySequence& keys) {
    QTest::keySequence(window().focusWidget() ? window().focusWidget() : &window(), keys);
  }

  // An S-record file: the S0 header, S2 records of up to 32 bytes, the S5 count of them, the S8
  // end.
  QString FirmwareFile(const Runs& runs) {
    std::ostringstream text;
    unsigned records = 0;
    text << "S010000074757661206669726D77617265B2\r\n" << std::uppercase << std::hex;
    for (const auto& [start, bytes] : runs) {
      for (std::size_t at = 0; at < bytes.size(); at += 32) {
        const std::size_t count = std::min<std::size_t>(32, bytes.size() - at);
        const std::uint32_t address = start + static_cast<std::uint32_t>(at);
        unsigned sum = static_cast<unsigned>(count + 4) + (address >> 16) +
                       ((address >> 8) & 0xFF) + (address & 0xFF);
        text << "S2" << std::setw(2) << std::setfill('0') << count + 4 << std::setw(6) << address;
        for (std::size_t i = 0; i < count; ++i) {
          text << std::setw(2) << unsigned{bytes[at + i]};
          sum += bytes[at + i];
        }
        text << std::setw(2) << (~sum & 0xFF) << "\r\n";
        ++records;
      }
    }
    const unsigned countSum = 3 + (records >> 8) + (records & 0xFF);
    text << "S503" << std::setfill('0') << std::setw(4) << records << std::setw(2)
         << (~countSum & 0xFF) << "\r\n";
    text << "S804000000FB\r\n";
    const QString path = cwd.file("firmware.s28");
    std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary) << text.str();
    return path;
  }
  void LoadFirmware(const QString& path) {
    dialogs.files.push_back(path);
    Named<QAction>(window(), "Open1")->trigger();
  }
  // The board's program memory becomes what the firmware buffer holds.
  void PutBufferOnBoard() {
    const auto bytes = window().document().firmware.bytes;
    board().WithBoard([&](sim::SimBoard& b) { b.flash().Place(kFirmwareBase, bytes); });
  }
  std::vector<std::string> Requests() {
    std::vector<std::string> lines;
    for (const auto& request : board().Requests()) {
      std::ostringstream line;
      line << request.command << " 0x" << std::hex << std::uppercase << request.address << std::dec
           << " " << request.length;
      lines.push_back(line.str());
    }
    return lines;
  }

 private:
  std::unique_ptr<ScopedSimBoard> board_;
  app::TPasswordDlg* dlg_ = nullptr;  // owned by the window
};

TEST_F(ServiceModeTest, TheCodeIsExactAndThreeWrongEntriesCloseTheDialog) {
  app::TfrmAir& w = OpenWith();
  TryCode("Rook_lyn");
  EXPECT_EQ(dlg().minimumSize(), dlg().maximumSize());
  EXPECT_TRUE(dlg().OKBtn->isDefault());
  QTest::keyClicks(dlg().Password, "abc");
  EXPECT_EQ(dlg().Password->displayText(), "***");
  dlg().Password->clear();

  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "Password");
  EXPECT_EQ(dialogs.boxes[0].text, "Password Error!");
  EXPECT_EQ(dialogs.boxes[0].icon, MessageIcon::Exclamation);
  EXPECT_TRUE(dlg().isVisible());
  EXPECT_FALSE(w.serviceMode());
  EXPECT_EQ(dlg().wrongEntries(), 1);

  TryCode("ROOK_LYN");
  TryCode("");
  EXPECT_FALSE(dlg().isVisible());
  EXPECT_EQ(dlg().wrongEntries(), 0);
  EXPECT_EQ(dialogs.boxes.size(), 3u);
  EXPECT_FALSE(w.serviceMode());
}

TEST_F(ServiceModeTest, CancelKeepsTheCountOfWrongEntries) {
  OpenWith();
  TryCode("guess");
  QTest::mouseClick(dlg().CancelBtn, Qt::LeftButton);
  EXPECT_FALSE(dlg().isVisible());
  TryCode("guess");
  EXPECT_TRUE(dlg().isVisible());
  TryCode("guess");
  EXPECT_FALSE(dlg().isVisible());
  EXPECT_EQ(dlg().wrongEntries(), 0);
}

TEST_F(ServiceModeTest, TheRightCodeShowsTheFirmwareViewAndNormalModeTheEditor) {
  app::TfrmAir& w = OpenWith();
  QTest::mouseClick(Named<QLabel>(w, "stcSrc"), Qt::LeftButton);
  auto* testMode = w.findChild<QWidget*>("CheckBox7");
  ASSERT_NE(testMode, nullptr);
  EXPECT_TRUE(testMode->isHidden());
  const ConfigImage before = image();

  EnterServiceMode();
  EXPECT_FALSE(dlg().isVisible());
  EXPECT_EQ(dlg().Password->text(), "Rook_Lyn");
  EXPECT_FALSE(Named<QAction>(w, "Read1")->isVisible());
  EXPECT_FALSE(Named<QMenu>(w, "File2")->menuAction()->isVisible());
  EXPECT_TRUE(Named<QMenu>(w, "File1")->menuAction()->isVisible());
  EXPECT_EQ(Named<QMenu>(w, "File1")->actions(), QList<QAction*>{Named<QAction>(w, "Open1")});
  EXPECT_EQ(Named<QAction>(w, "Open1")->text().remove('&'), "Open");
  EXPECT_TRUE(Named<QAction>(w, "NormalMode1")->isVisible());
  EXPECT_FALSE(Named<QAction>(w, "NormalMode1")->isChecked());
  EXPECT_TRUE(Named<QAction>(w, "S29Mode1")->isChecked());
  for (QWidget* hidden :
       {Named<QWidget>(w, "grpNormal"), Named<QWidget>(w, "GroupBox1"), Named<QWidget>(w, "grpSrc"),
        static_cast<QWidget*>(Named<QLabel>(w, "stcCode")),
        static_cast<QWidget*>(Named<QLabel>(w, "stcFeatures")),
        static_cast<QWidget*>(Named<QLabel>(w, "stcSrc"))})
    EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
  EXPECT_TRUE(Named<QLabel>(w, "lblFilename")->isVisible());
  EXPECT_TRUE(Named<QLabel>(w, "lblFilename")->text().isEmpty());

  Named<QAction>(w, "NormalMode1")->trigger();
  EXPECT_FALSE(w.serviceMode());
  EXPECT_TRUE(Named<QAction>(w, "Read1")->isVisible());
  EXPECT_TRUE(Named<QMenu>(w, "File2")->menuAction()->isVisible());
  EXPECT_FALSE(Named<QMenu>(w, "File1")->menuAction()->isVisible());
  EXPECT_FALSE(Named<QAction>(w, "NormalMode1")->isVisible());
  EXPECT_TRUE(Named<QAction>(w, "NormalMode1")->isChecked());
  EXPECT_FALSE(Named<QAction>(w, "S29Mode1")->isChecked());
  EXPECT_EQ(w.FrontPage(), Named<QWidget>(w, "grpSrc"));
  EXPECT_TRUE(Named<QWidget>(w, "grpSrc")->isVisible());
  for (QLabel* tab :
       {Named<QLabel>(w, "stcCode"), Named<QLabel>(w, "stcFeatures"), Named<QLabel>(w, "stcSrc")})
    EXPECT_TRUE(tab->isVisible());
  EXPECT_FALSE(Named<QLabel>(w, "lblFilename")->isVisible());
  EXPECT_FALSE(testMode->isHidden());
  EXPECT_EQ(image(), before);
}

TEST_F(ServiceModeTest, HiddenEntriesKeepTheirKeysInServiceMode) {
  app::TfrmAir& w = OpenWith();
  EnterServiceMode();
  // Each key has one holder: the twin while the entry is hidden.
  EXPECT_TRUE(Named<QAction>(w, "Read1")->shortcut().isEmpty());
  EXPECT_EQ(w.ShortcutTwin(Named<QAction>(w, "Read1"))->shortcut(), QKeySequence(Qt::Key_F3));
  EXPECT_TRUE(Named<QAction>(w, "Save1")->shortcut().isEmpty());

  Press(QKeySequence(Qt::Key_F3));
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Read Sucess!"});
  Press(QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_TRUE(QFile::exists(cwd.file("default.tbl")));
  Press(QKeySequence(Qt::CTRL | Qt::Key_A));
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);  // Save As, cancelled
  EXPECT_EQ(dialogs.fileDialogs[0].text, "Text files (*.tbl)|tbl");

  Named<QAction>(w, "NormalMode1")->trigger();
  EXPECT_EQ(Named<QAction>(w, "Read1")->shortcut(), QKeySequence(Qt::Key_F3));
  EXPECT_TRUE(w.ShortcutTwin(Named<QAction>(w, "Read1"))->shortcut().isEmpty());
}

TEST_F(ServiceModeTest, OpenLoadsTheFirmwareFileAndNamesIt) {
  app::TfrmAir& w = OpenWith();
  EnterServiceMode();
  const QString first = FirmwareFile({{BlockAddress(0), BlockData(0)}});
  LoadFirmware(first);
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].caption, w.startupDirectory());
  EXPECT_EQ(dialogs.fileDialogs[0].text, "All files (*)");
  EXPECT_EQ(Named<QLabel>(w, "lblFilename")->text(), first);
  EXPECT_EQ(w.document().firmware.loadedBytes, kFirmwareBlockSize);

  // After the configuration Open the dialog also offers its filter, as the first choice.
  w.Open2Click();
  LoadFirmware(cwd.file("gone.s28"));
  EXPECT_EQ(dialogs.fileDialogs.back().text, "Text files (*.tbl);;All files (*)");
  ASSERT_FALSE(dialogs.boxes.empty());
  EXPECT_EQ(dialogs.boxes.back().caption, "File Error");
  EXPECT_EQ(dialogs.boxes.back().text,
            "Can't perform one of the following file operations: Open, Seek, Read, Close.");
  EXPECT_EQ(Named<QLabel>(w, "lblFilename")->text(),
            first);  // the firmware loaded before is still the one named
  EXPECT_EQ(w.document().firmware.bytes[0], BlockData(0)[0]);
}

TEST_F(ServiceModeTest, VerifyReadsBackOnlyTheBlocksTheFileFills) {
  OpenWith();
  EnterServiceMode();
  Press(QKeySequence(Qt::Key_F9));
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Please open file first !"});
  EXPECT_TRUE(board().Requests().empty());

  LoadFirmware(FirmwareFile({{BlockAddress(31), BlockData(31)}, {BlockAddress(0), BlockData(0)}}));
  PutBufferOnBoard();
  Press(QKeySequence(Qt::Key_F9));
  EXPECT_EQ(dialogs.shownTexts().back(), "Verify Success!");
  EXPECT_EQ(Requests(), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0xE0000 2048",
                                                  "ReadBlock 0xEF800 2048"}));
}

// Without data records only the sum bytes, 02 FE, make the last block non-blank.
TEST_F(ServiceModeTest, AFileWithoutDataStillVerifiesTheLastBlock) {
  app::TfrmAir& w = OpenWith();
  EnterServiceMode();
  LoadFirmware(FirmwareFile({}));
  EXPECT_EQ(w.document().firmware.bytes[0xFFFE], 0x02);
  EXPECT_EQ(w.document().firmware.bytes[0xFFFF], 0xFE);
  Press(QKeySequence(Qt::Key_F9));
  EXPECT_EQ(Requests(), (std::vector<std::string>{"Probe 0x0 0", "ReadBlock 0xEF800 2048"}));
  // The board's last block holds its firmware's text and sum, not the blank file's.
  EXPECT_TRUE(dialogs.shownTexts().back().startsWith("Verify Error! Htag = "));
}

TEST_F(ServiceModeTest, WriteProgramsTheBoardsProgramMemory) {
  app::TfrmAir& w = OpenWith();
  EnterServiceMode();
  const QString file = FirmwareFile(Identified({{BlockAddress(0), BlockData(0)},
                                                {BlockAddress(1), BlockData(1)},
                                                {BlockAddress(31), BlockData(31)}}));
  LoadFirmware(file);
  dialogs.yesNo = {true};
  int progressMaximum = -1;
  bool writeEnabled = true;
  dialogs.whileModal = [&] {
    progressMaximum = Named<QProgressBar>(w, "PB1")->maximum();
    writeEnabled = Named<QAction>(w, "Write1")->isEnabled();
  };
  Press(QKeySequence(Qt::Key_F4));
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Transmit Success!"});
  // The erase is confirmed with the file's name, size and identification text.
  ASSERT_FALSE(dialogs.questions.empty());
  EXPECT_EQ(dialogs.questions[0].text,
            QString("Erase the board's firmware and program %1 (%2 bytes, identification "
                    "\"FLEX  V02.50\")?")
                .arg(file)
                .arg(QFileInfo(file).size()));
  EXPECT_EQ(progressMaximum, 3 * 2048);
  EXPECT_FALSE(writeEnabled);
  EXPECT_EQ(
      Requests(),
      (std::vector<std::string>{
          "Probe 0x0 0", "ReadBlock 0xEFFE0 12", "ReadBlock 0x8884B 12", "EraseBlock 0xE0000 0",
          "WriteBlock 0xE0000 2048", "WriteBlock 0xE0800 2048", "WriteBlock 0xEF800 2048",
          "ReadBlock 0xE0000 2048", "ReadBlock 0xE0800 2048", "ReadBlock 0xEF800 2048"}));
  const auto& firmware = w.document().firmware.bytes;
  EXPECT_EQ(board().ReadFlash(kFirmwareBase, kFirmwareSize),
            std::vector<std::uint8_t>(firmware.begin(), firmware.end()));
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Ready");
  EXPECT_EQ(Named<QProgressBar>(w, "PB1")->value(), 0);
  EXPECT_TRUE(Named<QAction>(w, "Write1")->isEnabled());
  EXPECT_FALSE(w.link().port.IsOpen());
}

TEST_F(ServiceModeTest, VerifyStopsAtTheFirstBlockThatDiffers) {
  app::TfrmAir& w = OpenWith();
  EnterServiceMode();
  Runs runs;
  for (std::size_t block = 0; block < 6; ++block) runs[BlockAddress(block)] = BlockData(block);
  LoadFirmware(FirmwareFile(runs));
  PutBufferOnBoard();
  board().WithBoard([](sim::SimBoard& b) {
    b.flash().Place(BlockAddress(3) + 100, std::vector<std::uint8_t>{0x00});
  });
  Named<QAction>(w, "Verify1")->trigger();
  EXPECT_EQ(dialogs.shownTexts(),
            QStringList{QString("Verify Error! Htag = %1").arg(w.link().protocol.sequence())});
  const auto requests = Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back(), "ReadBlock 0xE1800 2048");
  EXPECT_EQ(requests.size(), 5u);
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Read ......");
  EXPECT_TRUE(Named<QAction>(w, "Write1")->isEnabled());
}

// A file that is no firmware for the board is refused by Write before the board is touched.
TEST_F(ServiceModeTest, WriteRefusesAFileThatIsNoFirmware) {
  app::TfrmAir& w = OpenWith();
  EnterServiceMode();
  const auto programMemory = board().ReadFlash(kFirmwareBase, kFirmwareSize);
  const QString configuration = cwd.file("board.tbl");
  const ConfigImage image = ConfigImage::StartupImage();
  std::ofstream(QFile::encodeName(configuration).toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(image.bytes().data()),
             static_cast<std::streamsize>(image.bytes().size()));
  const struct {
    QString file;
    QString reason;
  } refused[] = {
      {FirmwareFile({{BlockAddress(0), BlockData(0)}}), "no identification text at 0xEFFE0"},
      {configuration, "line 1: not an S-record"},
  };
  dialogs.yesNo = {true, true};
  for (const auto& file : refused) {
    LoadFirmware(file.file);
    EXPECT_EQ(Named<QLabel>(w, "lblFilename")->text(), file.file);
    Press(QKeySequence(Qt::Key_F4));
    ASSERT_FALSE(dialogs.boxes.empty());
    EXPECT_EQ(dialogs.boxes.back().caption, "Firmware File");
    EXPECT_TRUE(dialogs.boxes.back().text.contains(
        file.file + " is not firmware for this board: " + file.reason))
        << dialogs.boxes.back().text.toStdString();
  }
  EXPECT_TRUE(dialogs.questions.empty());
  EXPECT_TRUE(board().Requests().empty());
  EXPECT_EQ(board().ReadFlash(kFirmwareBase, kFirmwareSize), programMemory);
  EXPECT_TRUE(Named<QAction>(w, "Write1")->isEnabled());
}

// Read repairs a bad copy 0 from copy 1 in service mode too, with configuration bytes.
TEST_F(ServiceModeTest, ReadRepairsCopyZeroWithConfigurationBytes) {
  sim::SimOptions options;
  options.contents = sim::SimContents::Copy0Corrupted;
  app::TfrmAir& w = OpenWith(options);
  EnterServiceMode();
  LoadFirmware(FirmwareFile({{BlockAddress(0), BlockData(0)}}));
  const auto programMemory = board().ReadFlash(kFirmwareBase, kFirmwareSize);
  Press(QKeySequence(Qt::Key_F3));
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Read Sucess!"});
  EXPECT_EQ(board().ReadFlash(kConfigBase, kImageSize),
            board().ReadFlash(kConfigBase + kCopyStride, kImageSize));
  EXPECT_EQ(board().ReadFlash(kFirmwareBase, kFirmwareSize), programMemory);
  EXPECT_TRUE(w.serviceMode());
}

}  // namespace
}  // namespace tuva::testing
