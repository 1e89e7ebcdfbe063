#include "app/PasswordDlg.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "app/MainWindow.h"

namespace tuva::app {
namespace {

// The code that opens the service mode. It is compared exactly, case included.
const QString kAccessCode = QStringLiteral("Rook_Lyn");
// Wrong entries in a row that close the dialog.
constexpr int kWrongEntryLimit = 3;

}  // namespace

TPasswordDlg::TPasswordDlg(TfrmAir& window, Dialogs& dialogs)
    : QDialog(&window, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      window_(window),
      dialogs_(dialogs) {
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral("Password Dialog"));

  Label1 = Named<QLabel>(QStringLiteral("Label1"), QStringLiteral("Enter password:"), this);
  Password = Named<QLineEdit>(QStringLiteral("Password"), this);
  Password->setEchoMode(QLineEdit::Password);
  // Every typed character shows as '*', whatever the style's own mask character is.
  Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
  Password->setMinimumWidth(220);
  Label1->setBuddy(Password);

  OKBtn = Named<QPushButton>(QStringLiteral("OKBtn"), QStringLiteral("OK"), this);
  OKBtn->setDefault(true);  // Enter in the edit presses OK
  CancelBtn = Named<QPushButton>(QStringLiteral("CancelBtn"), QStringLiteral("Cancel"), this);
  CancelBtn->setAutoDefault(false);  // Esc, and the dialog's close box, cancel as well

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(Password);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed border: no resizing

  connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
  window_.SetPasswordDialog(this);
}

void TPasswordDlg::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  show();
  raise();
  activateWindow();
  Password->setFocus(Qt::OtherFocusReason);
}

void TPasswordDlg::OKBtnClick() {
  if (Password->text() == kAccessCode) {
    wrongEntries_ = 0;
    window_.EnterServiceMode();
    accept();
    return;
  }
  dialogs_.MessageBox(QStringLiteral("Password"), QStringLiteral("Password Error!"),
                      MessageIcon::Exclamation);
  Password->clear();
  Password->setFocus(Qt::OtherFocusReason);
  if (++wrongEntries_ >= kWrongEntryLimit) {
    wrongEntries_ = 0;
    reject();
  }
}

}  // namespace tuva::app
