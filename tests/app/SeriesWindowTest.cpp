// System > Series Programming: boards one after another on a simulated jig whose boards come and
// go, the table of finished boards, the main window held still while the series runs, every box
// of the window shown over it with the keyboard given back to the field it names, closing during
// a run, the records of the run listed and exported without ever creating a database, a capcode
// list and re-provisioning.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <algorithm>
#include <cstdlib>
#include <span>

#include "AppTestSupport.h"
#include "app/LabelPrinting.h"
#include "app/RecordsChart.h"
#include "app/SeriesWindow.h"
#include "app/StoreCalls.h"
#include "features/FieldValues.h"
#include "files/ConfigFile.h"
#include "link/Protocol.h"
#include "records/Journal.h"
#include "records/RecordStore.h"
#include "records/RecordText.h"
#include "series/SeriesImage.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {
namespace {

// A TCP port that takes connections and never says a word: a database server that hangs.
class SilentServer {
 public:
  SilentServer() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "cannot listen on the loopback";
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { close(fd_); }
  QString url() const { return QStringLiteral("postgresql://tuva@127.0.0.1:%1/tuva").arg(port_); }

 private:
  int fd_;
  int port_ = 0;
};

class SeriesWindowTest : public WindowTest {
 protected:
  // A jig on a pseudo-terminal that serves `boards` boards one after another.
  std::string Jig(int boards) {
    sim::SimOptions options;
    options.contents = sim::SimContents::Erased;
    options.boards = boards;
    options.removedMs = 700;  // slower than the programmer looks for a board
    options.paced = std::getenv("TUVA_SERIES_SCREENSHOT") != nullptr;  // real transfer times
    jig_ = std::make_unique<ScopedSimBoard>(std::move(options));
    return jig_->path();
  }
  sim::SimServer& jig() { return jig_->server(); }

  // The window as it opens, and then (unless `asOpened`) on a records database of the test's own.
  app::SeriesWindow& OpenSeries(app::TfrmAir& w, bool asOpened = false) {
    Named<QAction>(w, "SeriesProgramming1")->trigger();
    auto* series = w.findChild<app::SeriesWindow*>();
    EXPECT_TRUE(series && series->isVisible());
    EXPECT_TRUE(WaitFor([series] { return QApplication::activeWindow() == series; }));
    series_ = series;
    if (asOpened) return *series;
    // A database named in the window is used only once it exists (a typo never starts a pool).
    records::OpenRecordStore(cwd.file("records.sqlite").toStdString(), records::OpenMode::Create);
    Get<QLineEdit>("edtRecords")->setText(cwd.file("records.sqlite"));
    return *series;
  }
  template <typename T>
  T* Get(const char* name) {
    T* widget = series_->findChild<T*>(QLatin1String(name));
    EXPECT_TRUE(widget) << name;
    return widget;
  }
  void Count(int slot, const QString& first, const QString& step = "1") {
    const QString number = QString::number(slot);
    Get<QCheckBox>(qPrintable("chkCount" + number))->setChecked(true);
    Get<QLineEdit>(qPrintable("edtFirst" + number))->setText(first);
    Get<QLineEdit>(qPrintable("edtStep" + number))->setText(step);
  }
  void Start() { Get<QPushButton>("btnStart")->click(); }
  // Starts a run whose counting capcodes the database has never handed out: the window asks
  // first, and is answered Yes.
  void StartNew() {
    dialogs.yesNo.push_back(true);
    Start();
  }
  QTableWidget* Boards() { return Get<QTableWidget>("tblBoards"); }

  // Runs the event loop until `done`, for at most `limit`; false when it never came.
  static bool WaitFor(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::minutes(2)) {
    QDeadlineTimer deadline(limit);
    while (!done() && !deadline.hasExpired()) QTest::qWait(20);
    return done();
  }
  // The limit only keeps a hung run from hanging the test (paced boards take minutes).
  bool WaitUntilEnded() {
    return WaitFor([this] { return !series_->running(); }, std::chrono::minutes(10));
  }
  static QStringList Column(const QTableWidget* table, int column) {
    QStringList cells;
    for (int row = 0; row < table->rowCount(); ++row) cells << table->item(row, column)->text();
    return cells;
  }

  std::unique_ptr<ScopedSimBoard> jig_;
  app::SeriesWindow* series_ = nullptr;
};

TEST_F(SeriesWindowTest, ProgramsBoardsAsTheyComeWhileTheMainWindowIsHeldStill) {
  app::TfrmAir& w = Open({Jig(3)});
  app::SeriesWindow& series = OpenSeries(w);
  Count(1, "1500000");
  Count(2, "1600000", "10");
  Get<QSpinBox>("spnCount")->setValue(3);

  StartNew();
  ASSERT_TRUE(series.running()) << dialogs.shownTexts().join('\n').toStdString();
  EXPECT_FALSE(w.canvas()->isEnabled());
  EXPECT_FALSE(Named<QAction>(w, "Read1")->isEnabled());
  EXPECT_FALSE(Named<QAction>(w, "Open2")->isEnabled());
  EXPECT_FALSE(Get<QPushButton>("btnStart")->isEnabled());
  ASSERT_TRUE(WaitUntilEnded());

  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.shownTexts().join('\n').toStdString();
  EXPECT_EQ(Column(Boards(), 1),
            (QStringList{"1500000,1600000", "1500001,1600010", "1500002,1600020"}));
  EXPECT_EQ(Column(Boards(), 0), QStringList(3, QString::fromStdString(jig_->path())));
  EXPECT_EQ(Column(Boards(), 4), QStringList(3, "programmed"));
  EXPECT_EQ(Get<QLabel>("lblProgress")->text(), "3 of 3 boards programmed, 0 failed");
  EXPECT_EQ(jig().BoardFlashes().size(), 3u);
  EXPECT_TRUE(w.canvas()->isEnabled());
  EXPECT_TRUE(Named<QAction>(w, "Read1")->isEnabled());
  if (const char* shot = std::getenv("TUVA_SERIES_SCREENSHOT")) series.grab().save(shot);

  // The records of the run, listed and exported as tuvactl records --csv writes them.
  Get<QTabWidget>("tabs")->setCurrentIndex(1);
  auto* records = Get<QTableWidget>("tblRecords");
  ASSERT_TRUE(WaitFor([&] { return records->rowCount() == 3; }));
  EXPECT_EQ(Column(records, 7), QStringList(3, "programmed"));
  EXPECT_EQ(Column(records, 5), Column(Boards(), 2));  // the firmware as the Boards tab says it
  dialogs.files = {cwd.file("records.csv")};
  Get<QPushButton>("btnExportRecords")->click();
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(cwd.file("records.csv")); }));
  EXPECT_EQ(dialogs.saveCaptions, QStringList{"Export Records as CSV"});
  QFile csv(cwd.file("records.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().toStdString(),
            records::AttemptsCsv(records::OpenRecordStore(cwd.file("records.sqlite").toStdString(),
                                                          records::OpenMode::ReadOnly)
                                     ->List({})));

  // A new run starts from nothing, not from the last one's count.
  Get<QSpinBox>("spnCount")->setValue(5);
  Start();
  EXPECT_TRUE(Get<QLabel>("lblProgress")->text().startsWith("0 of 5 boards programmed"));
  EXPECT_EQ(Boards()->rowCount(), 0);
  Get<QPushButton>("btnStop")->click();
  ASSERT_TRUE(WaitUntilEnded());
}

// The chart above the records follows the run: a board recorded shows in it while the run still
// waits for its next board.
TEST_F(SeriesWindowTest, TheRecordsChartFollowsEachBoardRecorded) {
  app::TfrmAir& w = Open({Jig(1)});
  app::SeriesWindow& series = OpenSeries(w);
  Count(1, "1500000");
  Get<QSpinBox>("spnCount")->setValue(2);
  Get<QTabWidget>("tabs")->setCurrentIndex(1);
  auto* chart = Get<app::RecordsChart>("chartRecords");
  StartNew();
  ASSERT_TRUE(WaitFor([&] { return !chart->hours().empty(); }, std::chrono::seconds(60)));
  EXPECT_TRUE(series.running());
  ASSERT_EQ(chart->hours().size(), 1u);
  EXPECT_EQ(chart->hours()[0].programmed, 1u);
  EXPECT_EQ(chart->hours()[0].failed, 0u);
  Get<QPushButton>("btnStop")->click();
  ASSERT_TRUE(WaitUntilEnded());
  // Once the run has ended the tab lists its database one last time, then rests.
  auto* view = series.findChild<app::RecordsView*>();
  EXPECT_TRUE(WaitFor([&] { return !view->calls().waiting(); }, std::chrono::seconds(30)));
}

// Capcodes from the operator's list: a refused list names its line with the keyboard in the list's
// field; a good one programs every row left (a number of boards of 0) and says how far it is used.
TEST_F(SeriesWindowTest, ACapcodeListGivesEachBoardItsRow) {
  app::TfrmAir& w = Open({Jig(2)});
  app::SeriesWindow& series = OpenSeries(w);
  QFile bad(cwd.file("bad.csv"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("capcode.1.address\n1500000\n1500000\n");
  bad.close();
  Get<QLineEdit>("edtCapcodeList")->setText(cwd.file("bad.csv"));
  Start();
  ASSERT_TRUE(WaitFor([&] { return !series.running(); }));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("line 3: capcode 1500000 is given twice"))
      << dialogs.boxes[0].text.toStdString();
  EXPECT_EQ(QApplication::focusWidget(), Get<QLineEdit>("edtCapcodeList"));

  QFile good(cwd.file("good.csv"));
  ASSERT_TRUE(good.open(QIODevice::WriteOnly));
  good.write("capcode.1.address\n1500007\n1500003\n");
  good.close();
  Get<QLineEdit>("edtCapcodeList")->setText(cwd.file("good.csv"));
  Get<QSpinBox>("spnCount")->setValue(0);
  dialogs.boxes.clear();
  Start();
  ASSERT_TRUE(series.running() || WaitFor([&] { return series.running(); }))
      << dialogs.shownTexts().join('\n').toStdString();
  ASSERT_TRUE(WaitUntilEnded());
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.shownTexts().join('\n').toStdString();
  EXPECT_EQ(Column(Boards(), 1), (QStringList{"1500007", "1500003"}));
  EXPECT_EQ(Get<QLabel>("lblProgress")->text(), "2 of 2 boards programmed, 0 failed");
  // Once the run has ended the list's line says how far it is used now, not at the start.
  EXPECT_TRUE(WaitFor([&] {
    return Get<QLabel>("lblListState")->text().endsWith("2 rows: 2 used, 0 free, 0 failed");
  })) << Get<QLabel>("lblListState")->text().toStdString();
  EXPECT_TRUE(jig().Requests().size() > 0);
}

// "Keep the board's capcodes": a counting slot whose capcode would be kept is refused before
// Start; then a board is re-provisioned, keeping its capcodes and taking the new template's
// frequency.
TEST_F(SeriesWindowTest, KeepingTheBoardsCapcodesReprovisionsIt) {
  ConfigImage held = ConfigImage::StartupImage();
  ASSERT_FALSE(
      ApplyFieldTexts(held, {{"capcode.1.address", "1500001"}, {"capcode.2.address", "1600001"}}));
  ASSERT_TRUE(SaveConfigFile(cwd.file("board.tbl").toStdString(), held).ok());
  sim::SimOptions options;
  options.contents = sim::SimContents::Table;
  options.tablePath = cwd.file("board.tbl").toStdString();
  jig_ = std::make_unique<ScopedSimBoard>(std::move(options));
  app::TfrmAir& w = Open({jig_->path()});
  ASSERT_FALSE(ApplyFieldTexts(image(), {{"pll.n", "465.0000"}}));  // the new template
  OpenSeries(w);
  Get<QSpinBox>("spnCount")->setValue(1);
  Get<QCheckBox>("chkKeepCapcodes")->setChecked(true);
  Count(1, "1500000");
  Start();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("capcode slot 1 counts up, and its capcode is kept"))
      << dialogs.boxes[0].text.toStdString();
  EXPECT_EQ(QApplication::focusWidget(), Get<QCheckBox>("chkKeepCapcodes"));
  EXPECT_TRUE(jig().Requests().empty());

  dialogs.boxes.clear();
  Get<QCheckBox>("chkCount1")->setChecked(false);
  Start();
  ASSERT_TRUE(WaitFor([this] { return series_->running(); }))
      << dialogs.shownTexts().join('\n').toStdString();
  ASSERT_TRUE(WaitUntilEnded());
  EXPECT_EQ(Column(Boards(), 1), QStringList{"1500001,1600001"});
  EXPECT_EQ(Column(Boards(), 4), QStringList{"reprovisioned"});
  const auto copy0 = jig().ReadFlash(kConfigBase, kImageSize);
  ConfigImage written;
  written.Assign(std::span<const std::uint8_t, kImageSize>(copy0.data(), kImageSize));
  EXPECT_EQ(series::CapcodeTexts(written), series::CapcodeTexts(held));
  EXPECT_EQ(series::FrequencyText(written), "465.0000");
  Get<QTabWidget>("tabs")->setCurrentIndex(1);
  auto* records = Get<QTableWidget>("tblRecords");
  ASSERT_TRUE(WaitFor([&] { return records->rowCount() == 1; }));
  QStringList slots;  // every slot as the board holds it
  for (const std::string& capcode : series::CapcodeTexts(held))
    slots << QString("%1=%2").arg(slots.size() + 1).arg(QString::fromStdString(capcode));
  EXPECT_EQ(records->item(0, 4)->text(), slots.join(' '));
  EXPECT_TRUE(slots.join(' ').startsWith("1=1500001 2=1600001 3="));
}

// A finished board put back is skipped, not failed, and not red; a board whose read-back differs
// is failed and its rows say what to do with it; a port waiting for its next board shows no
// capcode; the summary counts each kind apart.
TEST_F(SeriesWindowTest, TheBoardsAreCountedApartAndAFailedOneSaysWhatToDo) {
  app::TfrmAir& w = Open({Jig(1)});
  OpenSeries(w);
  Count(1, "1500000");
  Get<QSpinBox>("spnCount")->setValue(1);
  StartNew();
  ASSERT_TRUE(WaitUntilEnded());
  ASSERT_EQ(Column(Boards(), 4), QStringList{"programmed"});

  ConfigImage finished = ConfigImage::StartupImage();
  ASSERT_FALSE(ApplyFieldTexts(finished, {{"capcode.1.address", "1500000"}}));
  ASSERT_TRUE(SaveConfigFile(cwd.file("finished.tbl").toStdString(), finished).ok());
  ScopedSimBoard putBack(
      {.contents = sim::SimContents::Table, .tablePath = cwd.file("finished.tbl").toStdString()});
  ScopedSimBoard bad(
      {.contents = sim::SimContents::Erased, .corruptWrite = sim::CorruptWrite{1, 300}});
  // Its first board is gone long enough for the port to wait for the next.
  ScopedSimBoard good({.contents = sim::SimContents::Erased, .boards = 2, .removedMs = 2500});
  Get<QLineEdit>("edtPorts")
      ->setText(QString::fromStdString(putBack.path() + ", " + bad.path() + ", " + good.path()));
  Get<QRadioButton>("rbPortsTyped")->setChecked(true);
  Get<QSpinBox>("spnCount")->setValue(2);
  Start();
  ASSERT_TRUE(series_->running()) << dialogs.shownTexts().join('\n').toStdString();
  auto* rows = Get<QTableWidget>("tblPorts");
  bool waitingWithCapcode = false;
  // Summaries that ask for the next board while every port has one, or not while a port waits.
  QStringList wrongAsks;
  QString failedRow;
  ASSERT_TRUE(WaitFor(
      [&] {
        bool waiting = false;
        for (int row = 0; row < rows->rowCount(); ++row) {
          const QString state = rows->item(row, 1)->text();
          waiting = waiting || state == "waiting for a board";
          if (state == "waiting for a board" && !rows->item(row, 2)->text().isEmpty())
            waitingWithCapcode = true;
          if (state.startsWith("failed")) failedRow = state;
        }
        const QString summary = Get<QLabel>("lblProgress")->text();
        if (series_->running() && !summary.endsWith(u"; connecting…") &&
            !summary.endsWith(waiting ? "; put the next board on a port"
                                      : "; every port has a board"))
          wrongAsks << summary;
        return !series_->running();
      },
      std::chrono::minutes(5)));
  EXPECT_FALSE(waitingWithCapcode);
  EXPECT_TRUE(wrongAsks.isEmpty()) << wrongAsks.join('\n').toStdString();
  EXPECT_TRUE(failedRow.startsWith("failed: Verify Error! Htag = ")) << failedRow.toStdString();
  EXPECT_TRUE(failedRow.endsWith("; not programmed \u2014 remove the board and check it"))
      << failedRow.toStdString();
  EXPECT_EQ(Get<QLabel>("lblProgress")->text(),
            "2 of 2 boards programmed, 1 skipped (already programmed), 1 failed");
  ASSERT_EQ(Boards()->rowCount(), 4);
  for (int row = 0; row < Boards()->rowCount(); ++row) {
    const QString result = Boards()->item(row, 4)->text();
    SCOPED_TRACE(result.toStdString());
    const bool failed = result.startsWith("failed: Verify Error! Htag = ");
    EXPECT_TRUE(failed || result == "programmed" || result == "already programmed (1500000)");
    EXPECT_EQ(result.endsWith("; not programmed \u2014 remove the board and check it"), failed);
    EXPECT_EQ(Boards()->item(row, 4)->foreground().color() == QColor(Qt::darkRed), failed);
  }
}

// One live row per port: the board being written counts its percentage up, then says it may go;
// a jig whose adapter is not plugged in says so.
TEST_F(SeriesWindowTest, EachPortHasALiveRowThatFollowsItsBoard) {
  sim::SimOptions options;
  options.contents = sim::SimContents::Erased;
  options.paced = true;  // a write takes as long as on a real board
  jig_ = std::make_unique<ScopedSimBoard>(std::move(options));
  const QString missing = cwd.file("ttyUSB7");
  app::TfrmAir& w = Open();
  OpenSeries(w);
  Count(1, "1500000");
  Get<QSpinBox>("spnCount")->setValue(1);
  Get<QLineEdit>("edtPorts")->setText(QString::fromStdString(jig_->path()) + ", " + missing);
  Get<QRadioButton>("rbPortsTyped")->setChecked(true);
  StartNew();
  auto* rows = Get<QTableWidget>("tblPorts");
  ASSERT_TRUE(WaitFor([&] { return rows->rowCount() == 2; }));
  ASSERT_TRUE(WaitFor([&] { return rows->item(1, 1)->text() == "no such device yet"; }));

  QList<int> percentages;
  const QRegularExpression writing("^writing (\\d+) %$");
  ASSERT_TRUE(WaitFor([&] {
    const QString state = rows->item(0, 1)->text();
    if (const auto match = writing.match(state); match.hasMatch())
      if (percentages.isEmpty() || percentages.last() != match.captured(1).toInt())
        percentages << match.captured(1).toInt();
    return state.startsWith("programmed");
  }));
  EXPECT_EQ(rows->item(0, 1)->text(), "programmed 1500000 \u2014 remove the board");
  EXPECT_EQ(rows->item(0, 2)->text(), "1500000");
  ASSERT_GE(percentages.size(), 2) << "the percentage never moved";
  EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end()));
  ASSERT_TRUE(WaitUntilEnded());
}

// Every refusal is a box over the series window; once it is gone, the keyboard is in the field
// it names, and Enter, F4, F3 or F9 reach no board.
TEST_F(SeriesWindowTest, EachWarningLeavesTheKeyboardInItsFieldAndNoKeyReachesABoard) {
  ASSERT_TRUE(QDir(cwd.path()).mkdir("folder.sqlite"));
  app::TfrmAir& w = Open({Jig(1)});
  app::SeriesWindow& series = OpenSeries(w);
  // Each case mends the fault before it and makes one of its own.
  const std::tuple<std::function<void()>, QString, const char*> cases[] = {
      {[] {}, "no capcode slot counts up", "edtFirst1"},
      {[&] { Count(2, "15x"); }, "Capcode slot 2: the first capcode and the step", "edtFirst2"},
      {[&] { Count(2, "3000000"); }, "Please insert a number between", "edtFirst2"},
      {[&] { Count(2, "1500000", "0"); }, "the step must be 1 or more", "edtStep2"},
      {[&] {  // the last board's capcode would leave the range
         Count(2, "2000000");
         Get<QSpinBox>("spnCount")->setValue(900000);
       },
       "slot 2", "edtFirst2"},
      {[&] {
         Count(2, "1500000");
         Get<QSpinBox>("spnCount")->setValue(0);
       },
       "the count must be 1 or more", "spnCount"},
      {[&] {
         Get<QSpinBox>("spnCount")->setValue(2);
         Get<QRadioButton>("rbTemplateFile")->setChecked(true);
         Get<QLineEdit>("edtTemplate")->setText(cwd.file("missing.tbl"));
       },
       "Open Error!", "edtTemplate"},
      {[&] {  // a file whose name says "step": the refusal concerns the slot's first capcode
         ASSERT_TRUE(
             SaveConfigFile(cwd.file("stepping.tbl").toStdString(), ConfigImage::StartupImage())
                 .ok());
         Get<QLineEdit>("edtTemplate")->setText(cwd.file("stepping.tbl"));
         Count(3, "1600000");
       },
       "capcode slot 3 is disabled in", "edtFirst3"},
      {[&] {
         Get<QCheckBox>("chkCount3")->setChecked(false);
         Get<QRadioButton>("rbTemplateWindow")->setChecked(true);
         Get<QRadioButton>("rbPortsTyped")->setChecked(true);
       },
       "Type the ports", "edtPorts"},
      {[&] { Get<QLineEdit>("edtPorts")->setText("socket://127.0.0.1"); }, "socket://127.0.0.1",
       "edtPorts"},
      {[&] {
         Get<QRadioButton>("rbPortsOfWindow")->setChecked(true);
         Get<QLineEdit>("edtRecords")->setText(cwd.file("folder.sqlite"));
       },
       "folder.sqlite", "edtRecords"},
      {[&] {
         Get<QLineEdit>("edtRecords")->setText(cwd.file("records.sqlite"));
         QFile garbage(cwd.file("garbage.s19"));
         ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
         garbage.write("no firmware\n");
         garbage.close();
         Get<QLineEdit>("edtFirmware")->setText(garbage.fileName());
       },
       "in service mode only: press Ctrl+Shift+S in the main window", "edtFirmware"},
      {[&] { w.EnterServiceMode(); }, "garbage.s19: line 1", "edtFirmware"},
  };
  for (const auto& [set, message, field] : cases) {
    SCOPED_TRACE(message.toStdString());
    set();
    dialogs.boxes.clear();
    Start();
    ASSERT_TRUE(WaitFor([&] { return !series.running(); }));
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(message)) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(dialogs.boxes[0].caption, "Series Programming");
    EXPECT_EQ(dialogs.boxes[0].parent, &series);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_F4, Qt::Key_F3, Qt::Key_F9}) {
      QWidget* focus = QApplication::focusWidget();
      ASSERT_TRUE(focus);
      EXPECT_EQ(focus->window(), &series);
      EXPECT_TRUE(focus->objectName() == field || focus->parent()->objectName() == field)
          << focus->objectName().toStdString();
      QTest::keyClick(focus, key);
    }
    EXPECT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(w.canvas()->isEnabled());
  }
  EXPECT_TRUE(jig().Requests().empty());
}

TEST_F(SeriesWindowTest, ClosingDuringARunStopsItAfterTheBoardBeingWritten) {
  app::TfrmAir& w = Open({Jig(3)});
  app::SeriesWindow& series = OpenSeries(w);
  Count(1, "1500000");
  Get<QSpinBox>("spnCount")->setValue(3);
  StartNew();
  ASSERT_TRUE(WaitFor([&] { return Boards()->rowCount() > 0; }));
  dialogs.yesNo = {true};
  series.close();
  // Until the run has ended its summary says it is stopping; only this window closes then.
  if (series.running()) {
    const QString summary = Get<QLabel>("lblProgress")->text();
    EXPECT_TRUE(summary.contains("; stopping once the boards being written are finished"))
        << summary.toStdString();
    EXPECT_FALSE(summary.contains("the programmer closes")) << summary.toStdString();
  }
  ASSERT_TRUE(WaitUntilEnded());
  ASSERT_EQ(dialogs.questions.size(), 2u);  // the new series, then closing
  EXPECT_EQ(dialogs.questions[1].parent, &series);
  EXPECT_LT(Boards()->rowCount(), 3);
  EXPECT_TRUE(WaitFor([&] { return !series.isVisible(); }));
  EXPECT_TRUE(w.canvas()->isEnabled());
  EXPECT_TRUE(w.isVisible());
}

// Closing the main window asks the series window's question; a run that ends while the question
// is on the screen neither loses the answer nor carries it into the next run.
TEST_F(SeriesWindowTest, ClosingTheProgrammerDuringARunAsksOnceAndClosesWhenTheRunHasEnded) {
  app::TfrmAir& w = Open({Jig(4)});
  app::SeriesWindow& series = OpenSeries(w);
  Count(1, "1500000");
  // Two boards: the run goes on, waiting for the second, well after the question is answered.
  Get<QSpinBox>("spnCount")->setValue(2);
  StartNew();
  ASSERT_TRUE(WaitFor([&] { return !dialogs.questions.empty(); }));  // the new series: Yes
  ASSERT_TRUE(series.running());
  dialogs.whileModal = [&] { ASSERT_TRUE(WaitUntilEnded()); };  // the run ends meanwhile
  dialogs.yesNo = {false};
  w.close();
  ASSERT_EQ(dialogs.questions.size(), 2u);
  EXPECT_TRUE(dialogs.questions[1].text.contains("close the programmer"));
  EXPECT_TRUE(w.isVisible());  // No: the programmer stays

  dialogs.whileModal = nullptr;
  Get<QSpinBox>("spnCount")->setValue(1);
  Start();
  ASSERT_TRUE(WaitUntilEnded());
  EXPECT_TRUE(w.isVisible());  // the earlier close is not carried over

  Start();
  dialogs.whileModal = [&] { ASSERT_TRUE(WaitUntilEnded()); };
  dialogs.yesNo = {true};
  w.close();
  EXPECT_EQ(dialogs.questions.size(), 3u);
  EXPECT_TRUE(WaitFor([&] { return !w.isVisible(); }));
}

TEST_F(SeriesWindowTest, ViewingRecordsCreatesNothingAndNeverShowsAnotherDatabasesRows) {
  {
    auto store = records::OpenRecordStore(cwd.file("records.sqlite").toStdString(),
                                          records::OpenMode::Create);
    store->Reserve({}, {{1, 1500000, 1, 2000000}});
  }
  app::TfrmAir& w = Open();
  OpenSeries(w);
  auto* records = Get<QTableWidget>("tblRecords");
  Get<QTabWidget>("tabs")->setCurrentIndex(1);
  ASSERT_TRUE(WaitFor([&] { return records->rowCount() == 1; }));

  Get<QLineEdit>("edtRecords")->setText(cwd.file("typo/records.sqlite"));
  Get<QPushButton>("btnRefreshRecords")->click();
  auto* status = Get<QLabel>("lblRecordsStatus");
  ASSERT_TRUE(WaitFor([&] { return status->text().contains("no records database"); }));
  EXPECT_EQ(records->rowCount(), 0);
  EXPECT_FALSE(QFileInfo::exists(cwd.file("typo")));
}

// Attempt numbers sort as numbers; naming another database lists its attempts at once.
TEST_F(SeriesWindowTest, TheRecordsSortByNumberAndFollowTheDatabaseNamed) {
  {
    auto store = records::OpenRecordStore(cwd.file("records.sqlite").toStdString(),
                                          records::OpenMode::Create);
    for (int board = 0; board < 11; ++board) store->Reserve({}, {{1, 1500000, 1, 2000000}});
    records::OpenRecordStore(cwd.file("other.sqlite").toStdString(), records::OpenMode::Create)
        ->Reserve({}, {{1, 1700000, 1, 2000000}});
  }
  app::TfrmAir& w = Open();
  OpenSeries(w);
  auto* records = Get<QTableWidget>("tblRecords");
  Get<QTabWidget>("tabs")->setCurrentIndex(1);
  ASSERT_TRUE(WaitFor([&] { return records->rowCount() == 11; }));
  records->sortByColumn(0, Qt::DescendingOrder);
  EXPECT_EQ(Column(records, 0).mid(0, 3), (QStringList{"11", "10", "9"}));

  auto* path = Get<QLineEdit>("edtRecords");
  path->setText(cwd.file("other.sqlite"));
  path->setFocus();
  QTest::keyClick(path, Qt::Key_Return);
  ASSERT_TRUE(WaitFor([&] { return records->rowCount() == 1; }));
  EXPECT_EQ(records->item(0, 4)->text(), "1=1700000");
}

TEST_F(SeriesWindowTest, ADatabaseThatDoesNotAnswerLeavesTheWindowLive) {
  SilentServer server;
  app::TfrmAir& w = Open({Jig(1)});
  app::SeriesWindow& series = OpenSeries(w);
  series.SetStoreTimeLimit(std::chrono::milliseconds(300));
  Get<QLineEdit>("edtRecords")->setText(server.url());

  Get<QTabWidget>("tabs")->setCurrentIndex(1);
  auto* status = Get<QLabel>("lblRecordsStatus");
  EXPECT_EQ(status->text(), "connecting…");
  ASSERT_TRUE(WaitFor([&] { return status->text().contains("did not answer within"); }));

  Count(1, "1500000");
  Start();
  EXPECT_TRUE(Get<QLabel>("lblProgress")->text().contains("connecting…"));
  ASSERT_TRUE(WaitFor([&] { return !series.running(); }));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("did not answer within"));
  EXPECT_EQ(QApplication::focusWidget(), Get<QLineEdit>("edtRecords"));
  EXPECT_TRUE(w.canvas()->isEnabled());
  EXPECT_TRUE(jig().Requests().empty());
}

// Another program holds the records file's write lock while the window opens it, to record a
// result an earlier run kept in the journal: the window gives up, and the opening it gave up
// records nothing once the lock is gone; the result stays in the journal for the next opening.
TEST_F(SeriesWindowTest, AnOpeningGivenUpWritesNothingAfterwards) {
  app::TfrmAir& w = Open({Jig(1)});
  app::SeriesWindow& series = OpenSeries(w);
  series.SetStoreTimeLimit(std::chrono::milliseconds(300));
  const std::string file = cwd.file("records.sqlite").toStdString();
  records::Journal journal(records::DefaultJournalPath());  // the test program's own
  records::Journal::Entry entry;
  {
    const auto store = records::OpenRecordStore(file, records::OpenMode::Existing);
    entry = {store->Identity(), store->Name(), store->Reserve({}, {{1, 1500000, 1, 2097151}})};
    entry.attempt.result = records::Result::Programmed;
    journal.Keep(entry);
  }
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  Count(1, "1500001");
  Start();
  ASSERT_TRUE(WaitFor([&] { return !series.running(); }));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("did not answer within"));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  // The window's calls run one after another: one made now answers once the opening has ended.
  auto* calls = series.findChild<app::StoreCalls*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_TRUE(calls);
  calls->SetTimeLimit(std::chrono::minutes(2));
  bool after = false;
  calls->Run([&](std::stop_token) -> app::StoreCalls::Answer { return [&] { after = true; }; },
             [] {});
  ASSERT_TRUE(WaitFor([&] { return after; }));
  EXPECT_EQ(journal.Entries().size(), 1u);
  journal.Drop(entry.identity, entry.attempt.id);  // no later test meets it
  const auto attempts =
      records::OpenRecordStore(file, records::OpenMode::ReadOnly)->List(records::ListFilter{});
  ASSERT_EQ(attempts.size(), 1u);
  EXPECT_EQ(attempts[0].result, records::Result::Reserved);
  EXPECT_TRUE(jig().Requests().empty());
}

TEST_F(SeriesWindowTest, ThePortLabelFollowsTheMainWindowsPortChoice) {
  const std::string jig = Jig(1);
  app::TfrmAir& w = Open({jig});
  OpenSeries(w);
  auto* label = Get<QRadioButton>("rbPortsOfWindow");
  EXPECT_TRUE(label->text().contains(QString::fromStdString(jig)));
  w.findChild<QAction*>("PortAutomatic")->trigger();
  EXPECT_TRUE(WaitFor([&] { return label->text().contains("Automatic"); }, std::chrono::seconds(5)))
      << label->text().toStdString();
}

// A restarted programmer's window has its settings back, the records database included, and says
// which database it records in. Counting from capcodes a database has never handed out is asked
// about first (No unless answered Yes: nothing starts); the same counting restored later in the
// same database is not asked about again, and goes on where it stopped.
TEST_F(SeriesWindowTest, ARestartedWindowHasItsSettingsBackAndCountsOnInTheSameDatabase) {
  const std::string port = Jig(2);
  app::TfrmAir& w = Open({port});
  OpenSeries(w);
  const QString db = cwd.file("line2.sqlite");
  records::OpenRecordStore(db.toStdString(), records::OpenMode::Create);
  Get<QLineEdit>("edtRecords")->setText("line2.sqlite");  // kept by its absolute path
  ASSERT_EQ(Get<QLabel>("lblRecordsName")->text().remove(QChar(0x200B)),
            "Boards are recorded in " + db);
  Count(1, "1900000");
  Count(2, "1600000", "10");
  Get<QSpinBox>("spnCount")->setValue(1);
  Start();
  ASSERT_TRUE(WaitFor([&] { return !series_->running(); }));
  ASSERT_EQ(dialogs.questions.size(), 1u) << dialogs.shownTexts().join('\n').toStdString();
  EXPECT_EQ(dialogs.questions[0].text,
            "Capcode slot 1 starts at 1900000 and slot 2 at 1600000, which " + db +
                " has never handed out: start a new series there?");
  EXPECT_EQ(QApplication::focusWidget(), Get<QLineEdit>("edtFirst1"));
  EXPECT_TRUE(jig().Requests().empty());
  StartNew();
  ASSERT_TRUE(WaitFor([&] { return Boards()->rowCount() == 1; }));
  ASSERT_TRUE(WaitUntilEnded());

  // Files that are gone by the restart come back as they were named.
  Get<QRadioButton>("rbTemplateFile")->setChecked(true);
  Get<QLineEdit>("edtTemplate")->setText(cwd.file("gone.tbl"));
  Get<QLineEdit>("edtCapcodeList")->setText(cwd.file("gone.csv"));
  Get<QCheckBox>("chkKeepCapcodes")->setChecked(true);
  Get<QLineEdit>("edtFirmware")->setText(cwd.file("gone.s19"));
  Get<QCheckBox>("chkFirmwareFull")->setChecked(true);
  Get<QLineEdit>("edtPorts")->setText(QString::fromStdString(port));
  Get<QRadioButton>("rbPortsTyped")->setChecked(true);
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFileName(cwd.file("labels.pdf"));
  static_cast<app::LabelPrinting*>(Get<QWidget>("LabelPrinting"))->UsePrinter(std::move(printer));
  Get<QCheckBox>("chkLabels")->setChecked(true);
  series_->close();

  app::TfrmAir& again = Open({port});
  OpenSeries(again, true);
  EXPECT_EQ(Get<QLineEdit>("edtRecords")->text(), db);
  EXPECT_EQ(Get<QLabel>("lblRecordsName")->text().remove(QChar(0x200B)),
            "Boards are recorded in " + db);
  for (const char* box : {"rbTemplateFile", "chkCount1", "chkCount2", "chkKeepCapcodes",
                          "chkFirmwareFull", "rbPortsTyped", "chkLabels"})
    EXPECT_TRUE(Get<QAbstractButton>(box)->isChecked()) << box;
  EXPECT_FALSE(Get<QCheckBox>("chkCount3")->isChecked());
  const std::pair<const char*, QString> texts[] = {
      {"edtTemplate", cwd.file("gone.tbl")},
      {"edtFirst1", "1900000"},
      {"edtStep1", "1"},
      {"edtFirst2", "1600000"},
      {"edtStep2", "10"},
      {"edtCapcodeList", cwd.file("gone.csv")},
      {"edtFirmware", cwd.file("gone.s19")},
      {"edtPorts", QString::fromStdString(port)},
      {"lblLabels", "on " + cwd.file("labels.pdf")},
  };
  for (const auto& [name, text] : texts)
    EXPECT_EQ(Get<QWidget>(name)->property("text").toString(), text) << name;
  EXPECT_EQ(Get<QSpinBox>("spnCount")->value(), 1);

  Get<QRadioButton>("rbTemplateWindow")->setChecked(true);
  Get<QLineEdit>("edtCapcodeList")->clear();
  Get<QCheckBox>("chkKeepCapcodes")->setChecked(false);
  Get<QLineEdit>("edtFirmware")->clear();
  Get<QCheckBox>("chkLabels")->setChecked(false);
  dialogs.questions.clear();
  Start();
  ASSERT_TRUE(series_->running()) << dialogs.shownTexts().join('\n').toStdString();
  ASSERT_TRUE(WaitUntilEnded());
  EXPECT_TRUE(dialogs.questions.empty());
  // The first board may still be on the jig: it is passed over, not programmed again.
  EXPECT_EQ(Column(Boards(), 1).last(), "1900001,1600010");
  EXPECT_EQ(Column(Boards(), 4).last(), "programmed");
}

}  // namespace
}  // namespace tuva::testing
