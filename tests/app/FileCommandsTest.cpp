// Open, Save and Save As: the dialogs, the bytes, the caption and the refusals.
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWindow>

#include "AppTestSupport.h"
#include "app/RecentFiles.h"
#include "files/ConfigFile.h"

namespace tuva::testing {
namespace {

class FileCommandsTest : public WindowTest {
 protected:
  QString Caption(const QString& file) { return app::kMainCaption + " - [" + file + "]"; }
  QByteArray Read(const QString& file) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
  }
  QString SaveImage(const QString& name, std::uint32_t capcode, bool tagged = true) {
    ConfigImage saved = ConfigImage::StartupImage();
    EncodeCapcode(saved, 0, capcode, false);
    if (!tagged) saved.setByte(0x84C, 'l');
    const QString file = cwd.file(name);
    EXPECT_TRUE(SaveConfigFile(file.toStdString(), saved).ok());
    return file;
  }
};

TEST_F(FileCommandsTest, SaveWithoutADialogWritesTheDefaultFile) {
  app::TfrmAir& w = Open();
  Named<QAction>(w, "Save1")->trigger();
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  const QByteArray bytes = Read(cwd.file("default.tbl"));
  ASSERT_EQ(bytes.size(), 4100);
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image().bytes().data()), 4100), bytes);
  EXPECT_EQ(static_cast<unsigned char>(bytes[4094]), 0xFF);  // the sum is not computed by Save
  EXPECT_EQ(w.windowTitle(), Caption(cwd.file("default.tbl")));
}

TEST_F(FileCommandsTest, SaveAsUsesTheDialogAndCollectsTheStringsFirst) {
  app::TfrmAir& w = Open();
  int collected = 0;
  w.SetCapcodeStringCollector([&] {
    ++collected;
    image().setByte(518, 0x41);  // as if a header edit held "41"
  });
  dialogs.files.push_back(cwd.file("mine.tbl"));
  Named<QAction>(w, "SaveAs1")->trigger();
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].caption, cwd.path());
  EXPECT_EQ(dialogs.fileDialogs[0].text, "Text files (*.tbl)|tbl");
  EXPECT_EQ(collected, 1);
  EXPECT_EQ(Read(cwd.file("mine.tbl")).at(518), 0x41);
  EXPECT_EQ(w.currentFileName(), cwd.file("mine.tbl"));
  EXPECT_EQ(w.windowTitle(), Caption(cwd.file("mine.tbl")));

  // Cancelling changes nothing.
  Named<QAction>(w, "SaveAs1")->trigger();
  EXPECT_EQ(w.currentFileName(), cwd.file("mine.tbl"));
  EXPECT_EQ(collected, 1);
}

TEST_F(FileCommandsTest, OpeningTwoFilesLeavesOnlyTheSecondInTheCaption) {
  app::TfrmAir& w = Open();
  const QString first = SaveImage("first.tbl", 1111111);
  const QString second = SaveImage("second.tbl", 2022222);
  dialogs.files = {first, second};
  Named<QAction>(w, "Open2")->trigger();
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "1111111");
  EXPECT_EQ(w.windowTitle(), Caption(first));
  Named<QAction>(w, "Open2")->trigger();
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "2022222");
  EXPECT_EQ(w.windowTitle(), Caption(second));
  EXPECT_EQ(dialogs.fileDialogs[0].text, "Text files (*.tbl)");
}

TEST_F(FileCommandsTest, ARefusedFileLeavesImageControlsAndCaptionAsTheyWere) {
  app::TfrmAir& w = Open();
  const QString good = SaveImage("good.tbl", 1111111);
  dialogs.files = {good};
  Named<QAction>(w, "Open2")->trigger();
  const ConfigImage before = image();

  const QString bad = SaveImage("bad.tbl", 1333333, /*tagged=*/false);
  dialogs.files = {bad, cwd.file("missing.tbl")};
  Named<QAction>(w, "Open2")->trigger();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "FVantel");
  EXPECT_EQ(dialogs.boxes[0].text,
            "The [" + bad + "] is not correct format, the file will discard !");
  Named<QAction>(w, "Open2")->trigger();
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[1].caption, "Tuva");
  EXPECT_EQ(dialogs.boxes[1].text, "Open Error!\n" + cwd.file("missing.tbl"));
  EXPECT_EQ(dialogs.boxes[1].icon, MessageIcon::Exclamation);

  EXPECT_EQ(image(), before);
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "1111111");
  EXPECT_EQ(w.windowTitle(), Caption(good));
  // The current file stays the one in the caption.
  EXPECT_EQ(w.currentFileName(), good);
}

TEST_F(FileCommandsTest, SaveStoresTheFrequencyBeingTypedOrNothingWhenItIsRefused) {
  app::TfrmAir& w = Open();
  Type(w.frequency()->edtFreq(), "4620125", /*pressEnter=*/false);
  Named<QAction>(w, "Save1")->trigger();
  EXPECT_EQ(static_cast<unsigned char>(Read(cwd.file("default.tbl")).at(19)), 0x80);
  Type(w.frequency()->edtFreq(), "4620100", /*pressEnter=*/false);
  dialogs.files = {cwd.file("other.tbl")};
  Named<QAction>(w, "SaveAs1")->trigger();
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Channel Spacing Error!"});
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_FALSE(QFile::exists(cwd.file("other.tbl")));
}

TEST_F(FileCommandsTest, AFileThatCannotBeWrittenIsReported) {
  app::TfrmAir& w = Open();
  dialogs.files = {cwd.file("no/such/dir/x.tbl")};
  Named<QAction>(w, "SaveAs1")->trigger();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "Tuva");
  EXPECT_EQ(dialogs.boxes[0].text, "Save Error!");
  EXPECT_EQ(w.windowTitle(), app::kMainCaption);
}

// Whatever an Open refused or a Save As failed to write, Save goes to the file in the caption and
// leaves the other file as it was (or absent).
TEST_F(FileCommandsTest, SaveWritesTheFileInTheCaptionAfterARefusal) {
  struct Case {
    const char* what;
    QString target;
    bool saveAs;
    const char* message;
  };
  const Case cases[] = {
      {"wrong tag", SaveImage("bad.tbl", 1333333, /*tagged=*/false), false,
       "is not correct format"},
      {"unreadable", cwd.file("missing.tbl"), false, "Open Error!"},
      {"failed Save As", cwd.file("no/such/dir/x.tbl"), true, "Save Error!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    app::TfrmAir& w = Open();
    const QString good = SaveImage("good.tbl", 1111111);
    dialogs.files = {good, c.target};
    dialogs.boxes.clear();
    Named<QAction>(w, "Open2")->trigger();
    const bool existed = QFile::exists(c.target);
    const QByteArray before = existed ? Read(c.target) : QByteArray();
    (c.saveAs ? Named<QAction>(w, "SaveAs1") : Named<QAction>(w, "Open2"))->trigger();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(c.message)) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(w.windowTitle(), Caption(good));

    Type(w.capcodes()->edit(0), "1234567");
    Named<QAction>(w, "Save1")->trigger();
    EXPECT_EQ(QFile::exists(c.target), existed);
    if (existed) {
      EXPECT_EQ(Read(c.target), before);
    }
    EXPECT_EQ(Read(good), QByteArray(reinterpret_cast<const char*>(image().bytes().data()), 4100));
    EXPECT_EQ(w.currentFileName(), good);
  }
}

TEST_F(FileCommandsTest, RecentFilesFillReorderAndDropMissingEntries) {
  app::TfrmAir& w = Open();
  QStringList opened;
  for (int i = 0; i < 9; ++i) {
    opened.prepend(SaveImage(QString("f%1.tbl").arg(i), 1000000 + i));
    dialogs.files = {opened.front()};
    Named<QAction>(w, "Open2")->trigger();
  }
  EXPECT_EQ(w.recentFiles()->files(), opened.mid(0, 8));  // newest first, eight at most
  dialogs.files = {opened[5]};
  Named<QAction>(w, "SaveAs1")->trigger();
  EXPECT_EQ(w.recentFiles()->files().front(), opened[5]);

  // Remembered across a restart (where the default file is not added), and offered in the menu.
  app::TfrmAir& again = Open();
  QMenu* menu = again.recentFiles()->menu();
  Q_EMIT menu->aboutToShow();
  ASSERT_EQ(menu->actions().size(), 8);
  EXPECT_EQ(menu->actions()[0]->text(), "&1 " + opened[5]);
  menu->actions()[2]->trigger();  // f7
  EXPECT_EQ(again.windowTitle(), Caption(opened[1]));
  EXPECT_EQ(again.capcodes()->edit(0)->text(), "1000007");

  const ConfigImage before = image();
  QFile::remove(opened[3]);
  again.recentFiles()->OpenEntry(opened[3]);
  EXPECT_EQ(dialogs.shownTexts(),
            QStringList{"The file " + opened[3] +
                        " is no longer there; it is removed from Recent Files."});
  EXPECT_FALSE(again.recentFiles()->files().contains(opened[3]));
  EXPECT_EQ(image(), before);
}

// Files named on the command line open once the window is up, after the default file: the first
// one, its refusal naming it over the window, and a message names the others. A dropped file
// opens like Open.
TEST_F(FileCommandsTest, FilesGivenOnTheCommandLineOrDroppedGoThroughOpen) {
  SaveImage("default.tbl", 1111111);
  const QString given = SaveImage("given.tbl", 1222222);
  const QString missing = cwd.file("missing.tbl");
  struct Start {
    QStringList files;
    QStringList messages;
    QString caption;
  };
  const Start starts[] = {
      {{missing}, {"Open Error!\n" + missing}, cwd.file("default.tbl")},
      {{given, missing},
       {"One window edits one configuration: only the first file given, " + given +
        ", is taken.\nNot opened: " + missing},
       given},
  };
  for (const Start& start : starts) {
    SCOPED_TRACE(start.files.join(' ').toStdString());
    dialogs.boxes.clear();
    QList<bool> windowShown;
    dialogs.whileModal = [&] { windowShown << window().windowHandle()->isExposed(); };
    beforeShow = [&](app::TfrmAir& w) { w.SetStartupFiles(start.files); };
    app::TfrmAir& w = Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.boxes.empty(); }, 5000));
    EXPECT_EQ(dialogs.shownTexts(), start.messages);
    EXPECT_EQ(windowShown, QList<bool>(start.messages.size(), true));
    EXPECT_EQ(w.windowTitle(), Caption(start.caption));
  }
  dialogs.whileModal = nullptr;
  app::TfrmAir& w = window();
  const QString dropped = SaveImage("dropped.tbl", 1333333);
  const QString other = SaveImage("other.tbl", 1444444);
  const QString notes = cwd.file("notes.txt");
  struct Case {
    QStringList files;
    QStringList messages;
    QString caption;  // the file in the caption afterwards
  };
  const Case cases[] = {
      {{notes}, {notes + " is not a configuration file (*.tbl); nothing is opened."}, given},
      {{dropped}, {}, dropped},
      {{other, given},
       {"One window edits one configuration: only the first file given, " + other +
        ", is taken.\nNot opened: " + given},
       other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files.join(' ').toStdString());
    dialogs.boxes.clear();
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& file : c.files) urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    EXPECT_EQ(dialogs.shownTexts(), c.messages);
    EXPECT_EQ(w.windowTitle(), Caption(c.caption));
  }
}

TEST_F(FileCommandsTest, ClosingOverUnsavedChangesAsksAndDoesWhatTheAnswerSays) {
  struct Case {
    bool edited;
    app::SaveChoice answer;
    bool closes;
    std::uint32_t saved;  // the capcode in the file afterwards
  };
  const Case cases[] = {
      {false, app::SaveChoice::Cancel, true, 1111111},
      {true, app::SaveChoice::Save, true, 1234567},
      {true, app::SaveChoice::Discard, true, 1111111},
      {true, app::SaveChoice::Cancel, false, 1111111},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    const QString file = SaveImage("mine.tbl", 1111111);
    app::TfrmAir& w = Open();
    dialogs.files = {file};
    Named<QAction>(w, "Open2")->trigger();
    if (c.edited) Type(w.capcodes()->edit(0), "1234567");
    dialogs.questions.clear();
    dialogs.saveChoices = {c.answer};
    Named<QAction>(w, "Exit1")->trigger();
    EXPECT_EQ(w.isVisible(), !c.closes);
    if (c.edited) {
      ASSERT_EQ(dialogs.questions.size(), 1u);
      EXPECT_EQ(dialogs.questions[0].text, "Save changes to mine.tbl before closing?");
    } else {
      EXPECT_TRUE(dialogs.questions.empty());
    }
    ConfigImage saved;
    ASSERT_TRUE(OpenConfigFile(file.toStdString(), saved).ok());
    ConfigImage expected = ConfigImage::StartupImage();
    EncodeCapcode(expected, 0, c.saved, false);
    EXPECT_EQ(ReadCapcodeRecord(saved, 0), ReadCapcodeRecord(expected, 0));
  }
}

}  // namespace
}  // namespace tuva::testing
