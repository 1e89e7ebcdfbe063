// The window in everyday use: retyping a refused entry, message boxes that keep a path readable,
// text that fits its control at the screen's scale.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSet>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTimer>

#include "app/RecentFiles.h"

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

// The message about a default file that is no configuration stays on one line, a path wider than
// the screen breaks inside the box instead of running past it, and a short message keeps its
// caption whole.
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
  huge->hide();

  // A short message still leaves its title bar room for the caption beside the window manager's
  // icon and three buttons.
  auto small = real.BuildMessageBox("FVantel", "Read Sucess!", MessageIcon::None);
  small->show();
  QApplication::processEvents();
  QFont bold = small->font();
  bold.setBold(true);
  EXPECT_GE(small->width(), QFontMetrics(bold).horizontalAdvance("FVantel") +
                                6 * small->fontMetrics().lineSpacing());
}

// A question answers with the button pressed.
TEST_F(WindowUseTest, AQuestionAnswersWithTheButtonPressed) {
  app::TfrmAir& w = Open();
  app::QtDialogs real(&w);
  for (const auto& [button, answer] :
       {std::pair{QMessageBox::Yes, true}, std::pair{QMessageBox::No, false}}) {
    QTimer::singleShot(0, [button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_TRUE(box);
      box->button(button)->click();
    });
    EXPECT_EQ(real.YesNo("FVantel", "Overwrite?"), answer);
  }
}

// Every menu and item of the menu bar opens from the keyboard: each has a mnemonic that no other
// entry of its menu shares, and the pages change with Ctrl+PgDown and Ctrl+PgUp.
TEST_F(WindowUseTest, EveryMenuItemAndPageIsReachableByKeyboard) {
  app::TfrmAir& w = Open();
  const auto checkMnemonics = [](const QList<QAction*>& entries, const QString& where) {
    QSet<QChar> used;
    for (QAction* entry : entries) {
      if (entry->isSeparator() || !entry->isVisible()) continue;
      const QString text = entry->text();
      const qsizetype amp = text.indexOf(QLatin1Char('&'));
      ASSERT_TRUE(amp >= 0 && amp + 1 < text.size()) << (where + ": " + text).toStdString();
      EXPECT_FALSE(used.contains(text[amp + 1].toLower())) << (where + ": " + text).toStdString();
      used.insert(text[amp + 1].toLower());
    }
  };
  checkMnemonics(w.menuBar()->actions(), "menu bar");
  for (QMenu* menu :
       {Named<QMenu>(w, "File2"), Named<QMenu>(w, "Pager1"), Named<QMenu>(w, "System1")})
    checkMnemonics(menu->actions(), menu->title());

  QTest::keyClick(&w, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(w.FrontPage(), Named<QWidget>(w, "GroupBox1"));
  QTest::keyClick(&w, Qt::Key_PageUp, Qt::ControlModifier);
  QTest::keyClick(&w, Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(w.FrontPage(), Named<QWidget>(w, "grpSrc"));
}

// Alt+F opens the File menu every time, also right after a message raised from a menu entry
// (File > Recent Files naming a file that is gone), in the normal and the firmware view alike.
TEST_F(WindowUseTest, AltFOpensTheFileMenuEveryTime) {
  app::TfrmAir& w = Open();
  const auto altF = [&w](QMenu* file) {
    QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);
    const bool opened = QTest::qWaitFor([file] { return file->isVisible(); }, 5000);
    file->hide();
    return opened;
  };
  EXPECT_TRUE(altF(Named<QMenu>(w, "File2")));
  EXPECT_TRUE(altF(Named<QMenu>(w, "File2")));

  w.recentFiles()->Add(cwd.file("gone.tbl"));
  w.recentFiles()->Refresh();
  w.recentFiles()->menu()->actions().constFirst()->trigger();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(altF(Named<QMenu>(w, "File2")));

  Named<QMenu>(w, "File1")
      ->menuAction()
      ->setVisible(true);  // the firmware view swaps the two File menus
  Named<QMenu>(w, "File2")->menuAction()->setVisible(false);
  EXPECT_TRUE(altF(Named<QMenu>(w, "File1")));
  EXPECT_TRUE(altF(Named<QMenu>(w, "File1")));
}

// The names of the shown controls of `page` whose text is cut off.
QStringList ClippedControls(QWidget* page) {
  QStringList clipped;
  for (QWidget* control : page->findChildren<QWidget*>()) {
    if (!control->isVisibleTo(page)) continue;
    const QFontMetrics metrics = control->fontMetrics();
    int needed = 0;
    int available = 0;
    if (auto* label = qobject_cast<QLabel*>(control); label && !label->wordWrap()) {
      needed = metrics.horizontalAdvance(label->text());
      available = label->contentsRect().width();
    } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
      needed = box->sizeHint().width();
      available = box->width();
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
      needed = metrics.horizontalAdvance(group->title());
      available = group->width();
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
      QStyleOptionComboBox option;
      option.initFrom(combo);
      needed = metrics.horizontalAdvance(combo->currentText());
      available =
          combo->style()
              ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
              .width();
    } else {
      continue;
    }
    if (needed > available + 1 || metrics.height() > control->height() + 2)
      clipped << QString("%1 (%2 > %3)").arg(control->objectName()).arg(needed).arg(available);
  }
  return clipped;
}

// The names of the shown controls of `page` that reach out of their group box's frame or into its
// title.
QStringList ControlsOverFrames(QWidget* page) {
  QStringList over;
  for (auto* group : page->findChildren<QGroupBox*>()) {
    if (!group->isVisibleTo(page)) continue;
    QStyleOptionGroupBox option;
    option.initFrom(group);
    option.text = group->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect inside = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                        QStyle::SC_GroupBoxContents, group);
    for (QWidget* control : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (!control->isVisibleTo(page)) continue;
      QRect drawn = control->geometry();
      if (auto* box = qobject_cast<QCheckBox*>(control)) {
        // What the box paints: its indicator and text, centred in its height.
        const QSize painted = box->size().boundedTo(box->sizeHint());
        drawn = QRect(box->x(), box->y() + (box->height() - painted.height()) / 2, painted.width(),
                      painted.height());
      }
      if (!inside.contains(drawn))
        over << QString("%1 (%2,%3 %4x%5 out of %6,%7 %8x%9)")
                    .arg(control->objectName())
                    .arg(drawn.x())
                    .arg(drawn.y())
                    .arg(drawn.width())
                    .arg(drawn.height())
                    .arg(inside.x())
                    .arg(inside.y())
                    .arg(inside.width())
                    .arg(inside.height());
    }
  }
  return over;
}

// Run as it is, on a 1366 x 768 screen, and at QT_SCALE_FACTOR=2 on 2732 x 1536 and 3840 x 2160
// screens. No control reaches out of its group box either.
TEST_F(WindowUseTest, NoTextIsClippedOnAnyPageAtTheScreensScale) {
  app::TfrmAir& w = Open();
  QApplication::processEvents();
  SCOPED_TRACE(QString("%1 x %2 at %3")
                   .arg(w.width())
                   .arg(w.height())
                   .arg(w.devicePixelRatioF())
                   .toStdString());
  EXPECT_GT(w.width(), w.screen()->availableGeometry().width() * 9 / 10);  // maximised
  for (QWidget* page : {Named<QWidget>(w, "grpNormal"), Named<QWidget>(w, "GroupBox1"),
                        Named<QWidget>(w, "grpSrc")}) {
    w.ShowPage(page);
    EXPECT_EQ(ClippedControls(page), QStringList()) << page->objectName().toStdString();
    EXPECT_EQ(ControlsOverFrames(page), QStringList()) << page->objectName().toStdString();
  }
  EXPECT_EQ(ClippedControls(w.canvas()), QStringList());
}

}  // namespace
}  // namespace tuva::testing
