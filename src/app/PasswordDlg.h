// The password dialog of the service mode: one access code lets the window become the firmware
// download view. It is created once, after the main window, and reused; it counts wrong entries
// over the whole run and closes itself after the third one in a row.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tuva::app {

class Dialogs;
class TfrmAir;

class TPasswordDlg : public QDialog {
  Q_OBJECT
 public:
  // A child of `window`, which learns of it for its S29 Mode command.
  TPasswordDlg(TfrmAir& window, Dialogs& dialogs);

  // Shows the dialog application-modal and returns at once; OKBtnClick does the rest. The text
  // typed last time stays in the edit.
  void ShowModal();

  // OK: the access check. The right code switches the window to service mode and closes the
  // dialog; a wrong one says so, empties the edit and counts, and the third closes the dialog.
  void OKBtnClick();

  int wrongEntries() const { return wrongEntries_; }

  QLabel* Label1 = nullptr;
  QLineEdit* Password = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

 private:
  TfrmAir& window_;
  Dialogs& dialogs_;
  int wrongEntries_ = 0;
};

}  // namespace tuva::app
