// System > Series Programming: boards one after another on a simulated jig whose boards come and
// go, the table of finished boards, the main window held still while the series runs, and the
// records of the run listed and exported.
#include <QDeadlineTimer>
#include <QFile>
#include <cstdlib>

#include "AppTestSupport.h"
#include "app/SeriesWindow.h"
#include "files/ConfigFile.h"
#include "records/RecordStore.h"
#include "records/RecordText.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {
namespace {

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

  app::SeriesWindow& OpenSeries(app::TfrmAir& w) {
    w.SeriesProgramming1->trigger();
    auto* series = w.findChild<app::SeriesWindow*>();
    EXPECT_TRUE(series && series->isVisible());
    series->recordsPath->setText(cwd.file("records.sqlite"));
    return *series;
  }
  static void Count(app::SeriesWindow& series, int slot, const QString& first,
                    const QString& step = "1") {
    series.counting->item(slot - 1, 0)->setCheckState(Qt::Checked);
    series.counting->item(slot - 1, 1)->setText(first);
    series.counting->item(slot - 1, 2)->setText(step);
  }
  // Runs the event loop until the series has ended; the limit only keeps a hung run from hanging
  // the test (boards paced for the screenshot take minutes).
  static bool WaitUntilEnded(const app::SeriesWindow& series) {
    QDeadlineTimer limit(std::chrono::minutes(10));
    while (series.running() && !limit.hasExpired()) QTest::qWait(20);
    return !series.running();
  }
  static QStringList Column(const QTableWidget* table, int column) {
    QStringList cells;
    for (int row = 0; row < table->rowCount(); ++row) cells << table->item(row, column)->text();
    return cells;
  }

  std::unique_ptr<ScopedSimBoard> jig_;
};

TEST_F(SeriesWindowTest, ProgramsBoardsAsTheyComeWhileTheMainWindowIsHeldStill) {
  app::TfrmAir& w = Open({Jig(3)});
  app::SeriesWindow& series = OpenSeries(w);
  Count(series, 1, "1500000");
  Count(series, 2, "1600000", "10");
  series.count->setValue(3);

  series.startButton->click();
  ASSERT_TRUE(series.running()) << dialogs.shownTexts().join('\n').toStdString();
  EXPECT_FALSE(w.canvas()->isEnabled());
  EXPECT_FALSE(w.Read1->isEnabled());
  EXPECT_FALSE(w.Open2->isEnabled());
  EXPECT_FALSE(series.startButton->isEnabled());
  ASSERT_TRUE(WaitUntilEnded(series));

  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.shownTexts().join('\n').toStdString();
  EXPECT_EQ(Column(series.boards, 1),
            (QStringList{"1500000,1600000", "1500001,1600010", "1500002,1600020"}));
  EXPECT_EQ(Column(series.boards, 0), QStringList(3, QString::fromStdString(jig_->path())));
  EXPECT_EQ(Column(series.boards, 3), QStringList(3, "programmed"));
  EXPECT_EQ(jig().BoardFlashes().size(), 3u);
  EXPECT_TRUE(w.canvas()->isEnabled());
  EXPECT_TRUE(w.Read1->isEnabled());
  EXPECT_TRUE(series.startButton->isEnabled());
  if (const char* shot = std::getenv("TUVA_SERIES_SCREENSHOT")) series.grab().save(shot);

  // The records of the run, listed and exported as tuvactl records --csv writes them.
  series.tabs->setCurrentIndex(1);
  EXPECT_EQ(Column(series.records, 7), QStringList(3, "programmed"));
  EXPECT_EQ(Column(series.records, 4),
            (QStringList{"1=1500000 2=1600000", "1=1500001 2=1600010", "1=1500002 2=1600020"}));
  dialogs.files = {cwd.file("records.csv")};
  series.exportRecords->click();
  QFile csv(cwd.file("records.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll().toStdString(),
            records::AttemptsCsv(records::OpenRecordStore(cwd.file("records.sqlite").toStdString(),
                                                          records::OpenMode::ReadOnly)
                                     ->List({})));
  series.close();
  EXPECT_FALSE(series.isVisible());
}

TEST_F(SeriesWindowTest, ClosingDuringARunStopsItAfterTheBoardBeingWritten) {
  app::TfrmAir& w = Open({Jig(3)});
  app::SeriesWindow& series = OpenSeries(w);
  Count(series, 1, "1500000");
  series.count->setValue(3);
  series.startButton->click();
  QDeadlineTimer limit(std::chrono::minutes(2));
  while (series.boards->rowCount() == 0 && !limit.hasExpired()) QTest::qWait(20);
  dialogs.yesNo = {true};
  series.close();
  ASSERT_TRUE(WaitUntilEnded(series));
  EXPECT_EQ(dialogs.questions.size(), 1u);
  EXPECT_LT(series.boards->rowCount(), 3);
  EXPECT_FALSE(series.isVisible());
  EXPECT_TRUE(w.canvas()->isEnabled());
}

TEST_F(SeriesWindowTest, RefusedSettingsSayWhyAndSendNothing) {
  ASSERT_TRUE(QDir(cwd.path()).mkdir("folder.sqlite"));
  app::TfrmAir& w = Open({Jig(1)});
  app::SeriesWindow& series = OpenSeries(w);
  // Each case mends the fault before it and makes one of its own.
  const std::pair<std::function<void()>, QString> cases[] = {
      {[] {}, "no capcode slot counts up"},
      {[&] { Count(series, 2, "15x"); }, "Capcode slot 2: the first capcode and the step"},
      {[&] { Count(series, 2, "3000000"); }, "Please insert a number between"},
      {[&] { Count(series, 2, "1500000", "0"); }, "capcode slot 2: the step must be 1 or more"},
      {[&] {
         Count(series, 2, "1500000");
         series.templateFile->setChecked(true);
         series.templatePath->setText(cwd.file("missing.tbl"));
       },
       "Open Error!"},
      {[&] {
         series.templateWindow->setChecked(true);
         series.portsTyped->setChecked(true);
       },
       "Type the ports"},
      {[&] {
         series.portsOfWindow->setChecked(true);
         series.recordsPath->setText(cwd.file("folder.sqlite"));
       },
       "folder.sqlite"},
  };
  for (const auto& [set, message] : cases) {
    SCOPED_TRACE(message.toStdString());
    set();
    dialogs.boxes.clear();
    series.startButton->click();
    EXPECT_FALSE(series.running());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(message)) << dialogs.boxes[0].text.toStdString();
    EXPECT_TRUE(w.canvas()->isEnabled());
  }
  EXPECT_TRUE(jig().Requests().empty());
}

}  // namespace
}  // namespace tuva::testing
