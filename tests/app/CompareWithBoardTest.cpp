// Compare with Board from the Pager menu, against the simulated board on a pseudo-terminal.
#include "AppTestSupport.h"
#include "app/CompareDialog.h"
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

}  // namespace
}  // namespace tuva::testing
