// The series window's "Keep the board's capcodes": re-provisioning a board from the window, and
// the check before Start that refuses a counting slot whose capcode would be kept.
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <span>

#include "AppTestSupport.h"
#include "app/SeriesWindow.h"
#include "features/FieldValues.h"
#include "files/ConfigFile.h"
#include "link/Protocol.h"
#include "records/RecordStore.h"
#include "series/SeriesImage.h"
#include "support/SimBoardFixture.h"

namespace tuva::testing {
namespace {

class SeriesKeepWindowTest : public WindowTest {
 protected:
  template <typename T>
  T* Get(const char* name) {
    T* widget = series_->findChild<T*>(QLatin1String(name));
    EXPECT_TRUE(widget) << name;
    return widget;
  }
  static bool WaitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(std::chrono::minutes(2));
    while (!done() && !deadline.hasExpired()) QTest::qWait(20);
    return done();
  }

  app::SeriesWindow* series_ = nullptr;
};

TEST_F(SeriesKeepWindowTest, TheBoardKeepsItsCapcodesAndACountingSlotIsRefused) {
  ConfigImage held = ConfigImage::StartupImage();
  ASSERT_FALSE(
      ApplyFieldTexts(held, {{"capcode.1.address", "1500001"}, {"capcode.2.address", "1600001"}}));
  ASSERT_TRUE(SaveConfigFile(cwd.file("board.tbl").toStdString(), held).ok());
  sim::SimOptions options;
  options.contents = sim::SimContents::Table;
  options.tablePath = cwd.file("board.tbl").toStdString();
  ScopedSimBoard jig(options);

  app::TfrmAir& w = Open({jig.path()});
  ASSERT_FALSE(ApplyFieldTexts(image(), {{"pll.n", "465.0000"}}));  // the new template
  w.SeriesProgramming1->trigger();
  series_ = w.findChild<app::SeriesWindow*>();
  ASSERT_TRUE(series_);
  ASSERT_TRUE(WaitFor([this] { return QApplication::activeWindow() == series_; }));
  records::OpenRecordStore(cwd.file("records.sqlite").toStdString(), records::OpenMode::Create);
  Get<QLineEdit>("edtRecords")->setText(cwd.file("records.sqlite"));
  Get<QSpinBox>("spnCount")->setValue(1);
  Get<QCheckBox>("chkKeepCapcodes")->setChecked(true);

  Get<QCheckBox>("chkCount1")->setChecked(true);
  Get<QLineEdit>("edtFirst1")->setText("1500000");
  Get<QPushButton>("btnStart")->click();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_TRUE(dialogs.boxes[0].text.contains("capcode slot 1 counts up, and its capcode is kept"))
      << dialogs.boxes[0].text.toStdString();
  EXPECT_EQ(QApplication::focusWidget(), Get<QCheckBox>("chkKeepCapcodes"));
  EXPECT_TRUE(jig->Requests().empty());

  dialogs.boxes.clear();
  Get<QCheckBox>("chkCount1")->setChecked(false);
  Get<QPushButton>("btnStart")->click();
  ASSERT_TRUE(WaitFor([this] { return series_->running(); }))
      << dialogs.shownTexts().join('\n').toStdString();
  ASSERT_TRUE(WaitFor([this] { return !series_->running(); }));
  auto* boards = Get<QTableWidget>("tblBoards");
  ASSERT_EQ(boards->rowCount(), 1);
  EXPECT_EQ(boards->item(0, 1)->text(), "1500001,1600001");
  EXPECT_EQ(boards->item(0, 4)->text(), "reprovisioned");
  const auto copy0 = jig->ReadFlash(kConfigBase, kImageSize);
  ConfigImage written;
  written.Assign(std::span<const std::uint8_t, kImageSize>(copy0.data(), kImageSize));
  EXPECT_EQ(series::CapcodeTexts(written), series::CapcodeTexts(held));
  EXPECT_EQ(series::FrequencyText(written), "465.0000");
}

}  // namespace
}  // namespace tuva::testing
