// Open, Save and Save As: the dialogs, the bytes, the caption and the refusals.
#include <QFile>

#include "AppTestSupport.h"
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
  w.Save1->trigger();
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
  w.session().collectCapcodeStrings = [&] {
    ++collected;
    image().setByte(518, 0x41);  // as if a header edit held "41"
  };
  dialogs.files.push_back(cwd.file("mine.tbl"));
  w.SaveAs1->trigger();
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].caption, cwd.path());
  EXPECT_EQ(dialogs.fileDialogs[0].text, "Text files (*.tbl)|tbl");
  EXPECT_EQ(collected, 1);
  EXPECT_EQ(Read(cwd.file("mine.tbl")).at(518), 0x41);
  EXPECT_EQ(w.currentFileName(), cwd.file("mine.tbl"));
  EXPECT_EQ(w.windowTitle(), Caption(cwd.file("mine.tbl")));

  // Cancelling changes nothing.
  w.SaveAs1->trigger();
  EXPECT_EQ(w.currentFileName(), cwd.file("mine.tbl"));
  EXPECT_EQ(collected, 1);
}

TEST_F(FileCommandsTest, OpeningTwoFilesLeavesOnlyTheSecondInTheCaption) {
  app::TfrmAir& w = Open();
  const QString first = SaveImage("first.tbl", 1111111);
  const QString second = SaveImage("second.tbl", 2022222);
  dialogs.files = {first, second};
  w.Open2->trigger();
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "1111111");
  EXPECT_EQ(w.windowTitle(), Caption(first));
  w.Open2->trigger();
  EXPECT_EQ(w.capcodes()->edit(0)->text(), "2022222");
  EXPECT_EQ(w.windowTitle(), Caption(second));
  EXPECT_EQ(dialogs.fileDialogs[0].text, "Text files (*.tbl)");
}

TEST_F(FileCommandsTest, ARefusedFileLeavesImageControlsAndCaptionAsTheyWere) {
  app::TfrmAir& w = Open();
  const QString good = SaveImage("good.tbl", 1111111);
  dialogs.files = {good};
  w.Open2->trigger();
  const ConfigImage before = image();

  const QString bad = SaveImage("bad.tbl", 1333333, /*tagged=*/false);
  dialogs.files = {bad, cwd.file("missing.tbl")};
  w.Open2->trigger();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].caption, "FVantel");
  EXPECT_EQ(dialogs.boxes[0].text,
            "The [" + bad + "] is not correct format, the file will discard !");
  w.Open2->trigger();
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[1].caption, "Tuva");
  EXPECT_EQ(dialogs.boxes[1].text, "Open Error!");
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
  w.Save1->trigger();
  EXPECT_EQ(static_cast<unsigned char>(Read(cwd.file("default.tbl")).at(19)), 0x80);
  Type(w.frequency()->edtFreq(), "4620100", /*pressEnter=*/false);
  dialogs.files = {cwd.file("other.tbl")};
  w.SaveAs1->trigger();
  EXPECT_EQ(dialogs.shownTexts(), QStringList{"Channel Spacing Error!"});
  EXPECT_TRUE(dialogs.fileDialogs.empty());
  EXPECT_FALSE(QFile::exists(cwd.file("other.tbl")));
}

TEST_F(FileCommandsTest, AFileThatCannotBeWrittenIsReported) {
  app::TfrmAir& w = Open();
  dialogs.files = {cwd.file("no/such/dir/x.tbl")};
  w.SaveAs1->trigger();
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
    w.Open2->trigger();
    const bool existed = QFile::exists(c.target);
    const QByteArray before = existed ? Read(c.target) : QByteArray();
    (c.saveAs ? w.SaveAs1 : w.Open2)->trigger();
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_TRUE(dialogs.boxes[0].text.contains(c.message)) << dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(w.windowTitle(), Caption(good));

    Type(w.capcodes()->edit(0), "1234567");
    w.Save1->trigger();
    EXPECT_EQ(QFile::exists(c.target), existed);
    if (existed) {
      EXPECT_EQ(Read(c.target), before);
    }
    EXPECT_EQ(Read(good), QByteArray(reinterpret_cast<const char*>(image().bytes().data()), 4100));
    EXPECT_EQ(w.currentFileName(), good);
  }
}

}  // namespace
}  // namespace tuva::testing
