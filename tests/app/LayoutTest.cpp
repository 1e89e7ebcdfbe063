// Pages, selectors and the proportional scaling of the window.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "AppTestSupport.h"
#include "app/Controls.h"
#include "app/LayoutScaler.h"
#include "app/PortRows.h"
#include "app/RecordsChart.h"
#include "app/SeriesWindow.h"

namespace tuva::testing {
namespace {

using app::LayoutScaler;

// A small canvas: a group box holding an edit and a combo, and a spin box whose inner edit is
// part of one control.
struct Canvas {
  Canvas() {
    group = app::MakeGroupBox(&root, "grp", "Group", 10, 20, 200, 100);
    edit = app::MakeEdit(group, "edt", 7, 15, 61, 21);
    combo = app::MakeComboBox(group, "cbo", {"a", "b"}, 5, 41, 99, 21);
    spin = new QSpinBox(&root);
    spin->setGeometry(3, 130, 50, 21);
    app::SetDesignFont(spin);
    scaler.Capture(&root, QSize(300, 200));
  }
  QWidget root;
  QGroupBox* group;
  QLineEdit* edit;
  QComboBox* combo;
  QSpinBox* spin;
  LayoutScaler scaler;
};

TEST(LayoutScaler, RecordsControlsButNotThePartsOfACompoundControl) {
  TestApp();
  Canvas c;
  const auto controls = c.scaler.Controls();
  EXPECT_EQ(controls, (std::vector<QWidget*>{c.group, c.edit, c.combo, c.spin}));
}

TEST(LayoutScaler, DoublingTheSizeDoublesBoundsAndFonts) {
  TestApp();
  Canvas c;
  c.scaler.Scale(QSize(600, 400));
  for (QWidget* control : c.scaler.Controls()) {
    const QRect design = c.scaler.DesignBounds(control);
    EXPECT_EQ(control->geometry(), QRect(design.topLeft() * 2, design.size() * 2));
    EXPECT_EQ(control->font().pointSize(), 2 * app::kDesignFontPoints);
  }
  // Back to the design size: everything as recorded.
  c.scaler.Scale(QSize(300, 200));
  EXPECT_EQ(c.edit->geometry(), QRect(7, 15, 61, 21));
  EXPECT_EQ(c.edit->font().pointSize(), app::kDesignFontPoints);
}

TEST(LayoutScaler, UnequalFactorsTruncateAndScaleFontsByTheSmaller) {
  TestApp();
  Canvas c;
  c.scaler.Scale(QSize(600, 300));                        // factors 2.0 and 1.5
  EXPECT_EQ(c.edit->geometry(), QRect(14, 22, 122, 31));  // 15 x 1.5 = 22.5, 21 x 1.5 = 31.5
  EXPECT_EQ(c.combo->font().pointSize(), app::kDesignFontPoints * 3 / 2);
  c.scaler.Scale(QSize(100, 400));  // a third: fonts never shrink to nothing
  EXPECT_EQ(c.edit->geometry(), QRect(2, 30, 20, 42));
  EXPECT_EQ(c.edit->font().pointSize(), app::kDesignFontPoints / 3);
}

TEST(LayoutScaler, PromptEditsAreAsWideAsTwentyTwoLettersAndTakeTwentyOne) {
  TestApp();
  QWidget root;
  QLabel measure(&root);
  auto* first = app::MakeEdit(&root, "edtPrompt0", 0, 0, 50, 21, 0);
  auto* plain = new QLineEdit(&root);
  QFont big = first->font();
  big.setPointSize(15);
  first->setFont(big);
  plain->setFont(big);
  app::FitToPromptWidth(&measure, {first, plain});
  const int width = QFontMetrics(big).horizontalAdvance(QString(22, 'A'));
  EXPECT_EQ(first->width(), measure.width());
  EXPECT_NEAR(first->width(), width, 2);
  EXPECT_EQ(plain->width(), first->width());
  EXPECT_EQ(first->maxChars(), 21);
  EXPECT_EQ(plain->maxLength(), 21);
}

TEST_F(WindowTest, WindowTwiceTheDesignSizeDoublesEveryControl) {
  app::TfrmAir& w = Open();
  w.setWindowState(Qt::WindowNoState);
  const QSize chrome = w.size() - w.canvas()->size();
  w.resize(QSize(2 * app::kDesignCanvasWidth, 2 * app::kDesignCanvasHeight) + chrome);
  // QTRY_COMPARE only returns from the test body when it fails, which GoogleTest counts as a pass.
  const QSize doubled(2 * app::kDesignCanvasWidth, 2 * app::kDesignCanvasHeight);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.canvas()->size() == doubled; }, 5000))
      << w.canvas()->width() << " x " << w.canvas()->height();
  ASSERT_GT(w.layout().Controls().size(), 60u);
  for (QWidget* control : w.layout().Controls()) {
    if (control == Named<QLabel>(w, "lblLen"))
      continue;  // the hidden measuring label sizes itself to its text
    const QRect design = w.layout().DesignBounds(control);
    QRect expected(design.topLeft() * 2, design.size() * 2);
    // The prompt edits are then fitted to 22 letters of their font.
    if (w.controls().SlotOf(control) >= app::kPromptBase) expected.setWidth(control->width());
    EXPECT_EQ(control->geometry(), expected) << control->objectName().toStdString();
    EXPECT_EQ(control->font().pointSize(), 2 * w.layout().DesignFontSize(control))
        << control->objectName().toStdString();
  }
  EXPECT_EQ(Named<QWidget>(w, "grpNormal")->geometry(), QRect(24, 40, 1428, 988));
}

TEST_F(WindowTest, SelectorsBringTheirPageToTheFront) {
  app::TfrmAir& w = Open();
  EXPECT_EQ(w.FrontPage(), Named<QWidget>(w, "grpNormal"));
  EXPECT_TRUE(w.IsSelected(Named<QLabel>(w, "stcCode")));
  EXPECT_EQ(Named<QLabel>(w, "stcCode")->text(), "Capcode & Freq & Features");
  QTest::mouseClick(Named<QLabel>(w, "stcSrc"), Qt::LeftButton);
  QTest::mouseClick(Named<QLabel>(w, "stcSrc"), Qt::LeftButton);
  EXPECT_EQ(w.FrontPage(), Named<QWidget>(w, "grpSrc"));
  EXPECT_TRUE(Named<QWidget>(w, "grpSrc")->isVisible());
  EXPECT_FALSE(Named<QWidget>(w, "grpNormal")->isVisible());
  EXPECT_TRUE(w.IsSelected(Named<QLabel>(w, "stcSrc")));
  EXPECT_FALSE(w.IsSelected(Named<QLabel>(w, "stcCode")));
  EXPECT_EQ(Named<QLabel>(w, "stcSrc")->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(Named<QLabel>(w, "stcSrc")->palette().color(QPalette::Window), QColor(128, 128, 128));
  EXPECT_EQ(Named<QLabel>(w, "stcSrc")->palette().color(QPalette::WindowText), QColor(Qt::white));
  EXPECT_EQ(Named<QLabel>(w, "stcCode")->frameShadow(), QFrame::Raised);
  EXPECT_EQ(Named<QLabel>(w, "stcCode")->palette().color(QPalette::WindowText), QColor(Qt::black));
  QTest::mouseClick(Named<QLabel>(w, "stcFeatures"), Qt::LeftButton);
  EXPECT_EQ(w.FrontPage(), Named<QWidget>(w, "GroupBox1"));
  for (QWidget* page : {Named<QWidget>(w, "grpNormal"), Named<QWidget>(w, "GroupBox1"),
                        Named<QWidget>(w, "grpSrc")})
    EXPECT_EQ(w.layout().DesignBounds(page), QRect(12, 20, 714, 494));
}

// The series window on the smallest screen the programmer is used on, 1366 x 768 (and a
// 2732 x 1536 screen at QT_SCALE_FACTOR=2, the same in logical pixels): the window with its frame
// fits, as opened, in the station view, with three jigs and with long status lines.
TEST_F(WindowTest, TheSeriesWindowFitsTheScreen) {
  app::TfrmAir& w = Open();
  const QRect available = w.screen()->availableGeometry();
  if (available.width() < 1366 || available.height() < 740) {
    GTEST_SKIP() << "a screen of " << available.width() << " x " << available.height();
  }
  Named<QAction>(w, "SeriesProgramming1")->trigger();
  auto* series = w.findChild<app::SeriesWindow*>();
  ASSERT_TRUE(series);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(series));
  const QString longText = QStringLiteral(
      "failed: the board stopped answering while its configuration was written; "
      "remove the board and check it, then put it back on /dev/ttyUSB0 "
      "(the records database postgresql://tuva@records.example.net/tuva)");
  const QString jigs[] = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"};
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"as opened", [] {}},
      {"three jigs",
       [&] {
         auto* rows = series->findChild<app::PortRows*>();
         rows->Reset({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"});
         for (const QString& jig : jigs) {
           rows->Show({jig.toStdString(), series::PortState::Failed, 0, "1500000,1600000", 12.5,
                       longText.toStdString()});
         }
       }},
      {"long status lines",
       [&] {
         for (const char* name : {"lblProgress", "lblRecordsStatus", "lblLabels", "lblListState"})
           series->findChild<QLabel*>(name)->setText(longText + " " + longText);
         series->grab();  // painted: each line ends in "…" and has its whole text as tooltip
         EXPECT_EQ(series->findChild<QLabel*>("lblProgress")->toolTip(), longText + " " + longText);
       }},
      {"records tab", [&] { series->findChild<QTabWidget*>("tabs")->setCurrentIndex(1); }},
      {"station view", [&] { series->findChild<QCheckBox*>("chkStationView")->setChecked(true); }},
  };
  for (const auto& [name, set] : cases) {
    SCOPED_TRACE(name);
    set();
    QApplication::processEvents();
    const QSize least = series->minimumSizeHint().expandedTo(series->minimumSize());
    EXPECT_LE(least.width(), available.width() - 40) << least.width();
    EXPECT_LE(least.height(), available.height() - 60) << least.height();
    EXPECT_TRUE(available.contains(series->frameGeometry()))
        << series->frameGeometry().width() << " x " << series->frameGeometry().height();
    // The records chart's bars stand four and a half lines high at least, three jigs' rows shown.
    const auto* chart = series->findChild<app::RecordsChart*>();
    if (chart->isVisibleTo(series)) {
      EXPECT_GE(chart->height(), 8 * chart->fontMetrics().lineSpacing()) << chart->height();
    }
    // Every line of a wrapped text is shown, none cut by the rows around it.
    for (const QLabel* label : series->findChildren<QLabel*>()) {
      if (label->wordWrap() && label->isVisibleTo(series) && !label->text().isEmpty()) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width()))
            << label->objectName().toStdString();
      }
    }
  }
}

}  // namespace
}  // namespace tuva::testing
