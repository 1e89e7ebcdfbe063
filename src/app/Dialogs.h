// Every modal box and file dialog of the programmer goes through this interface: the plain
// message, the message box with caption and icon, the Yes/No box, the text-input box and the open
// and save dialogs. The window never opens a modal box by itself, so tests install an
// implementation that records what would have been shown and answers from a script.
#pragma once

#include <QDialog>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/Frontend.h"

class QLabel;
class QLineEdit;
class QMessageBox;
class QWidget;

namespace tuva::app {

// The application title, caption of every plain message.
inline const QString kAppTitle = QStringLiteral("FVantel");

// Texts of the system in its own encoding (file names, the records, the messages of errors), and
// back.
inline QString Text(const std::string& text) {
  return QString::fromLocal8Bit(text);
}
inline std::string Bytes(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

// The answers of the question asked before closing over unsaved changes.
enum class SaveChoice { Save, Discard, Cancel };

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Text and an OK button, captioned with the application title.
  virtual void Message(const QString& text) = 0;
  // Text with its own caption and icon, OK button.
  virtual void MessageBox(const QString& caption, const QString& text, MessageIcon icon) = 0;
  // Yes/No with an exclamation icon; true for Yes.
  virtual bool YesNo(const QString& caption, const QString& text) = 0;
  // Yes/No as YesNo, but No is the default button: a question whose Yes cannot be taken back, so
  // an Enter pressed out of habit answers No.
  virtual bool YesNoDefaultNo(const QString& caption, const QString& text) {
    return YesNo(caption, text);
  }
  // One line of text; nullopt when cancelled.
  virtual std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                           const QString& initial) = 0;
  // Says why a typed text is refused; empty when it is accepted.
  using Refusal = std::function<QString(const QString&)>;
  // One line of text that must pass `refusal`: a refused text stays in the box, the reason shown
  // under it, until it is mended or the box cancelled (nullopt).
  virtual std::optional<QString> InputChecked(const QString& caption, const QString& prompt,
                                              const QString& initial, const Refusal& refusal) = 0;
  // The open dialog: an existing file under `directory` matching `filter`; nullopt when cancelled.
  virtual std::optional<QString> OpenFile(const QString& directory, const QString& filter) = 0;
  // The save dialog titled `caption` ("Save As" when empty): asks before overwriting, appends
  // `suffix` to a name typed without one.
  virtual std::optional<QString> SaveFile(const QString& caption, const QString& directory,
                                          const QString& filter, const QString& suffix) = 0;
  // Save, Discard and Cancel with a question icon; Cancel when the box is closed otherwise.
  virtual SaveChoice AskSave(const QString& caption, const QString& text) = 0;
  // The window the boxes are shown over from now on; returns the one before. When a box is
  // dismissed the window manager hands the keyboard back to the window it was shown over, so a
  // second window shows its boxes over itself (see DialogOwner).
  virtual QWidget* SetParent(QWidget* parent) = 0;
};

// While it lives, the boxes of `dialogs` are shown over `owner`.
class DialogOwner {
 public:
  DialogOwner(Dialogs& dialogs, QWidget* owner)
      : dialogs_(dialogs), previous_(dialogs.SetParent(owner)) {}
  ~DialogOwner() { dialogs_.SetParent(previous_); }
  DialogOwner(const DialogOwner&) = delete;
  DialogOwner& operator=(const DialogOwner&) = delete;

 private:
  Dialogs& dialogs_;
  QWidget* previous_;
};

// Runs `command`; an error that escapes it is shown, and the window goes on.
template <typename F>
void Guarded(Dialogs& dialogs, F&& command) {
  try {
    command();
  } catch (const std::exception& error) {  // a serial port's error says "Serial port ..."
    dialogs.MessageBox(kAppTitle, Text(error.what()), MessageIcon::Error);
  }
}

// Runs `show` (a box, or a question) with the boxes of `dialogs` shown over `owner`; its answer.
template <typename Show>
auto ShownOver(Dialogs& dialogs, QWidget* owner, Show&& show) {
  DialogOwner shown(dialogs, owner);
  return show();
}

// The box of InputChecked: OK closes it only when the text passes; otherwise the text stays, the
// reason under the field.
class CheckedInputDialog : public QDialog {
 public:
  CheckedInputDialog(const QString& caption, const QString& prompt, const QString& initial,
                     Dialogs::Refusal refusal, QWidget* parent);
  QLineEdit* field() const { return field_; }
  QLabel* refusalLabel() const { return refusal_; }
  void accept() override;

 private:
  Dialogs::Refusal check_;
  QLineEdit* field_;
  QLabel* refusal_;
};

// The real boxes: QMessageBox, QInputDialog and QFileDialog, parented to `parent`.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  QWidget* SetParent(QWidget* parent) override {
    QWidget* previous = parent_;
    parent_ = parent;
    return previous;
  }

  void Message(const QString& text) override;
  void MessageBox(const QString& caption, const QString& text, MessageIcon icon) override;
  bool YesNo(const QString& caption, const QString& text) override;
  bool YesNoDefaultNo(const QString& caption, const QString& text) override;
  std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                   const QString& initial) override;
  std::optional<QString> InputChecked(const QString& caption, const QString& prompt,
                                      const QString& initial, const Refusal& refusal) override;
  std::optional<QString> OpenFile(const QString& directory, const QString& filter) override;
  std::optional<QString> SaveFile(const QString& caption, const QString& directory,
                                  const QString& filter, const QString& suffix) override;
  SaveChoice AskSave(const QString& caption, const QString& text) override;

  // The box MessageBox shows, not yet shown: wide enough that a one-line message stays on one
  // line, and a path too long for the screen breaks at its separators.
  std::unique_ptr<QMessageBox> BuildMessageBox(const QString& caption, const QString& text,
                                               MessageIcon icon) const;

 private:
  QWidget* parent_;
};

}  // namespace tuva::app
