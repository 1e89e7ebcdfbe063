// Compare with Board and Check Against Records from the Pager menu, against the simulated board on
// a pseudo-terminal.
#include <QTemporaryDir>

#include "AppTestSupport.h"
#include "app/AppSettings.h"
#include "app/CompareDialog.h"
#include "app/FrequencyPanel.h"
#include "records/ImageRuns.h"
#include "records/Sha256.h"
#include "series/SeriesImage.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {
namespace {

class CompareWithBoardTest : public WindowTest {
 protected:
  app::TfrmAir& OpenOnBoard() { return Open({board_.path()}); }

  // The dialog the last comparison opened.
  app::CompareDialog* Shown() {
    app::CompareDialog* shown = nullptr;
    for (auto* dialog : window().findChildren<app::CompareDialog*>()) {
      if (dialog->isVisible()) {
        EXPECT_EQ(shown, nullptr) << "one comparison at a time";
        shown = dialog;
      }
    }
    return shown;
  }

  static QStringList Row(const app::CompareDialog& dialog, int row) {
    QStringList cells;
    for (int column = 0; column < dialog.table()->columnCount(); ++column) {
      cells << dialog.table()->item(row, column)->text();
    }
    return cells;
  }

  ScopedSimBoard board_;
};

TEST_F(CompareWithBoardTest, ListsTheFieldsTheBoardHoldsOtherwise) {
  app::TfrmAir& w = OpenOnBoard();
  EXPECT_EQ(Named<QAction>(w, "CompareWithBoard1")->text().remove('&'), "Compare with Board");
  EXPECT_TRUE(Named<QAction>(w, "CompareWithBoard1")->shortcut().isEmpty());
  Named<QAction>(w, "Write1")->trigger();
  ASSERT_EQ(dialogs.shownTexts(), QStringList{"Transmit Success!"});

  Named<QAction>(w, "CompareWithBoard1")->trigger();
  app::CompareDialog* same = Shown();
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(same->windowTitle(), "Compare with Board");
  EXPECT_EQ(same->summary()->text(), "The board holds this configuration.");
  EXPECT_EQ(same->table()->rowCount(), 0);

  // Capcode #1 is enabled, so its group map and the seven copies change with it: the capcode comes
  // first and the group map follows as one row.
  const QString onBoard = w.capcodes()->edit(0)->text();
  Type(w.capcodes()->edit(0), "1234580");
  const ConfigImage before = image();
  Named<QAction>(w, "CompareWithBoard1")->trigger();
  EXPECT_EQ(image(), before);
  EXPECT_EQ(Named<QLabel>(w, "StatusText")->text(), " Ready");
  EXPECT_FALSE(w.link().port.IsOpen());
  app::CompareDialog* differ = Shown();
  ASSERT_NE(differ, nullptr);
  EXPECT_EQ(differ->summary()->text(),
            "1 field differs (and the group map that follows from it) between the board and the "
            "window.");
  ASSERT_EQ(differ->table()->rowCount(), 2);
  EXPECT_EQ(Row(*differ, 0), (QStringList{"capcode.1.address", "Capcode #1", onBoard, "1234580"}));
  EXPECT_EQ(Row(*differ, 1),
            (QStringList{"capcode.group_map", "Capcode group map (8 copies)", "0100", "0300"}));
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Transmit Success!"});  // no Read message
}

// The records are the series window's: the board written is recorded there as programmed, so it
// checks as programmed; with its frequency written again from the window it is named with what
// was written and what it holds.
TEST_F(CompareWithBoardTest, ChecksTheBoardAgainstTheSeriesWindowsRecords) {
  app::TfrmAir& w = OpenOnBoard();
  QTemporaryDir folder;
  const QString where = folder.filePath(QStringLiteral("records.sqlite"));
  app::AppSettings()->setValue(QStringLiteral("series/records"), where);
  Named<QAction>(w, "Write1")->trigger();
  ConfigImage written = image();
  written.Seal();
  {
    auto store = records::OpenRecordStore(where.toStdString(), records::OpenMode::Create);
    records::Attempt attempt = store->Reserve({}, {});
    attempt.result = records::Result::Programmed;
    attempt.capcodes = series::CapcodeTexts(written);
    attempt.sha256 = records::Sha256Hex(written.bytes().data(), kImageSize);
    records::KeepImage(attempt, written.bytes(), written.bytes());
    store->Finish(attempt);
  }
  Named<QAction>(w, "CheckAgainstRecords1")->trigger();
  app::CompareDialog* same = Shown();
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(same->windowTitle(), "Check Against Records");
  EXPECT_TRUE(same->summary()->text().startsWith("As programmed: attempt #1, "))
      << same->summary()->text().toStdString();
  EXPECT_EQ(same->table()->rowCount(), 0);

  Type(w.frequency()->edtFreq(), "4630125");
  Named<QAction>(w, "Write1")->trigger();
  Named<QAction>(w, "CheckAgainstRecords1")->trigger();
  app::CompareDialog* changed = Shown();
  ASSERT_NE(changed, nullptr);
  EXPECT_TRUE(changed->summary()->text().startsWith("Changed since programmed: attempt #1, "))
      << changed->summary()->text().toStdString();
  ASSERT_EQ(changed->table()->rowCount(), 1);
  EXPECT_EQ(Row(*changed, 0), (QStringList{"pll.n", "PLLN and the receive frequency",
                                           "0044D800 (462.0000 MHz)", "00450080 (463.0125 MHz)"}));
}

}  // namespace
}  // namespace tuva::testing
