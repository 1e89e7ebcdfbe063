// The window in everyday use: retyping a refused entry, message boxes that keep a path readable.
#include <QLabel>
#include <QMessageBox>

#include "FeatureEditorsTestSupport.h"

namespace tuva::testing {
namespace {

using WindowUseTest = FeatureEditorsTest;

// A refused entry comes back selected, so the digits typed next replace it.
TEST_F(WindowUseTest, ARefusedEntryIsSelectedSoTypingReplacesIt) {
  Open();
  struct Case {
    QLineEdit* edit;
    const char* refused;
    bool enter;  // the refusal comes when the entry is left, not on a key
    const char* retyped;
    const char* shown;
  };
  const Case cases[] = {
      {window().capcodes()->edit(3), "12x", false, "345", "0000345"},
      {outputs().edtPlsPer[3], "25.6", true, "2.5", "2.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused);
    window().FocusSink();
    dialogs.boxes.clear();
    Type(c.edit, c.refused, c.enter);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(window().focusWidget(), c.edit);
    EXPECT_FALSE(c.edit->text().isEmpty());
    EXPECT_EQ(c.edit->selectedText(), c.edit->text());
    QTest::keyClicks(c.edit, c.retyped);
    QTest::keyClick(c.edit, Qt::Key_Return);
    EXPECT_EQ(c.edit->text(), c.shown);
    EXPECT_EQ(dialogs.boxes.size(), 1u);
  }
  EXPECT_EQ(image().byte(0x1E0 + 3), 25);
}

// The message about a default file that is no configuration stays on one line, and a path wider
// than the screen breaks inside the box instead of running past it.
TEST_F(WindowUseTest, MessageBoxesKeepALongPathReadable) {
  app::TfrmAir& w = Open();
  app::QtDialogs real(&w);
  const QString path = QStringLiteral("/home/technician/pagers/north/default.tbl");
  const QString message = "The [" + path + "] is not correct format, the file will discard !";
  auto box = real.BuildMessageBox("FVantel", message, MessageIcon::None);
  box->show();
  QApplication::processEvents();
  auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  ASSERT_NE(label, nullptr);
  EXPECT_LT(label->height(), 2 * label->fontMetrics().lineSpacing());
  EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(message));
  box->hide();

  auto huge = real.BuildMessageBox("FVantel", "The [" + path.repeated(20) + "] is not correct",
                                   MessageIcon::None);
  huge->show();
  QApplication::processEvents();
  EXPECT_LE(huge->width(), w.screen()->availableGeometry().width());
  EXPECT_GT(huge->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->height(),
            2 * label->fontMetrics().lineSpacing());
}

}  // namespace
}  // namespace tuva::testing
