// Shared pieces of the window tests: the application on Qt's offscreen platform, a Dialogs that
// records every box instead of showing it and answers from scripts, a window shown and active,
// and a working directory of its own for each test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/CapcodePanel.h"
#include "app/Dialogs.h"
#include "app/FrequencyPanel.h"
#include "app/MainWindow.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace tuva::testing {

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "tuva_app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  // What the window remembers goes to a folder of the test run, never the user's own settings;
  // so does the journal of unrecorded results, which test programs running side by side would
  // otherwise share (one's result of its own database stops another's run).
  static QTemporaryDir settings;
  static QTemporaryDir state;
  static const bool redirected = [] {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    return true;
  }();
  (void)redirected;
  return *app;
}

class RecordingDialogs : public app::Dialogs {
 public:
  struct Box {
    QString caption;
    QString text;
    MessageIcon icon;
    QWidget* parent = nullptr;  // the window the box was shown over
  };

  void Message(const QString& text) override {
    Show({app::kAppTitle, text, MessageIcon::None, parent_});
  }
  void MessageBox(const QString& caption, const QString& text, MessageIcon icon) override {
    Show({caption, text, icon, parent_});
  }
  bool YesNo(const QString& caption, const QString& text) override {
    questions.push_back({caption, text, MessageIcon::Exclamation, parent_});
    if (whileModal) whileModal();
    if (yesNo.empty()) return false;
    const bool answer = yesNo.front();
    yesNo.pop_front();
    return answer;
  }
  std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                   const QString&) override {
    inputs.push_back({caption, prompt, MessageIcon::None, parent_});
    if (whileModal) whileModal();
    return TakeText(texts);
  }
  // Takes answers from `texts` until one passes; each refused one is kept in `refusals`.
  std::optional<QString> InputChecked(const QString& caption, const QString& prompt, const QString&,
                                      const Refusal& refusal) override {
    inputs.push_back({caption, prompt, MessageIcon::None});
    if (whileModal) whileModal();
    while (const std::optional<QString> answer = TakeText(texts)) {
      const QString why = refusal(*answer);
      if (why.isEmpty()) return answer;
      refusals.push_back({caption, why, MessageIcon::None});
    }
    return std::nullopt;
  }
  std::optional<QString> OpenFile(const QString& directory, const QString& filter) override {
    fileDialogs.push_back({directory, filter, MessageIcon::None, parent_});
    return TakeText(files);
  }
  std::optional<QString> SaveFile(const QString& caption, const QString& directory,
                                  const QString& filter, const QString& suffix) override {
    fileDialogs.push_back(
        {directory, filter + QLatin1Char('|') + suffix, MessageIcon::None, parent_});
    saveCaptions << caption;
    return TakeText(files);
  }
  QWidget* SetParent(QWidget* parent) override {
    QWidget* previous = parent_;
    parent_ = parent;
    return previous;
  }

  app::SaveChoice AskSave(const QString& caption, const QString& text) override {
    questions.push_back({caption, text, MessageIcon::Information, parent_});
    if (whileModal) whileModal();
    if (saveChoices.empty()) return app::SaveChoice::Cancel;
    const app::SaveChoice answer = saveChoices.front();
    saveChoices.pop_front();
    return answer;
  }

  QStringList shownTexts() const {
    QStringList all;
    for (const Box& box : boxes) all << box.text;
    return all;
  }

  std::vector<Box> boxes;        // plain messages (caption FVantel, no icon) and message boxes
  std::vector<Box> questions;    // Yes/No boxes and Save/Discard/Cancel boxes (Information)
  std::vector<Box> inputs;       // text-input boxes
  std::vector<Box> refusals;     // reasons shown under the field of a checked text-input box
  std::vector<Box> fileDialogs;  // caption: directory; text: filter (and suffix)
  std::deque<bool> yesNo;
  std::deque<app::SaveChoice> saveChoices;
  // Answers of the text-input box and the file dialogs; a null QString (or none left) cancels.
  std::deque<QString> texts;
  std::deque<QString> files;
  std::function<void()> whileModal;  // runs while a box would be on the screen
  QStringList saveCaptions;          // titles of the save dialogs

 private:
  QWidget* parent_ = nullptr;
  void Show(Box box) {
    boxes.push_back(std::move(box));
    if (whileModal) whileModal();
  }
  static std::optional<QString> TakeText(std::deque<QString>& queue) {
    if (queue.empty()) return std::nullopt;
    const QString answer = queue.front();
    queue.pop_front();
    if (answer.isNull()) return std::nullopt;
    return answer;
  }
};

// A control, menu or menu item of a window found by its object name.
template <typename T>
T* Named(const QObject& window, const char* name) {
  T* found = window.findChild<T*>(QLatin1String(name));
  EXPECT_TRUE(found) << name;
  return found;
}

// Runs a test in a fresh temporary working directory and goes back afterwards.
class ScopedWorkingDirectory {
 public:
  ScopedWorkingDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~ScopedWorkingDirectory() { QDir::setCurrent(previous_); }
  QString path() const { return QDir(dir_.path()).canonicalPath(); }
  QString file(const QString& name) const { return QDir(path()).filePath(name); }

 private:
  QTemporaryDir dir_;
  QString previous_;
};

// A window over recording dialogs, shown and active so that focus moves run the field handlers.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    app::AppSettings()->clear();  // each test starts as a first run
  }

  app::TfrmAir& Open(std::vector<std::string> ports = {}) {
    window_.reset();
    window_ = std::make_unique<app::TfrmAir>(dialogs, std::move(ports));
    if (beforeShow) beforeShow(*window_);
    window_->show();
    window_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    return *window_;
  }
  app::TfrmAir& window() { return *window_; }
  ConfigImage& image() { return window_->document().image; }

  // Enters an edit (which empties it), types `text` key by key, and leaves with Enter.
  void Type(QLineEdit* edit, const QString& text, bool pressEnter = true) {
    edit->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(edit, text);
    if (pressEnter) QTest::keyClick(edit, Qt::Key_Return);
  }

  ScopedWorkingDirectory cwd;
  RecordingDialogs dialogs;
  std::function<void(app::TfrmAir&)> beforeShow;  // runs between construction and start-up

 private:
  std::unique_ptr<app::TfrmAir> window_;
};

}  // namespace tuva::testing
