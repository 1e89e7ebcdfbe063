// The service mode of the main window: the switch between the configuration editor and the
// firmware-download view, the password dialog that guards it, and the firmware file.
//
// In service mode the pages, their selectors, the configuration File menu and Read are hidden;
// the service File menu (Open a firmware file), Write, Verify, Check Firmware and Normal Mode
// remain, and lblFilename names the firmware file along the top of the window. Write and Verify
// then program and compare the board's program memory (Commands.cpp).
#include "app/Controls.h"
#include "app/EntryShortcuts.h"
#include "app/MainWindow.h"
#include "app/PasswordDlg.h"
#include "service/FirmwareProgramming.h"

namespace tuva::app {
namespace {

const QString kAllFilesFilter = QStringLiteral("All files (*)");

// The test-mode box of the security panel: hidden in the design, shown by leaving service mode.
QWidget* TestModeBox(const TfrmAir& window) {
  return window.findChild<QWidget*>(QStringLiteral("CheckBox7"));
}

}  // namespace

// Built with the chrome, before the layout is captured, so the label scales like every control.
void TfrmAir::BuildServiceView() {
  // Along the top edge, where the page selectors are in normal mode.
  lblFilename = MakeLabel(canvas_, QStringLiteral("lblFilename"), QString(), kPageBounds.left(), 2,
                          kPageBounds.width(), 17);
  lblFilename->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblFilename->hide();

  connect(S29Mode1, &QAction::triggered, this, [this] { S29Mode1Click(); });
  connect(NormalMode1, &QAction::triggered, this, [this] { NormalMode1Click(); });
  connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });

  // The keys of the entries that service mode hides, and of S29 Mode, which is never shown.
  shortcuts_ = new EntryShortcuts(this);
  shortcuts_->Keep(File2, Open2, Open2->shortcut());
  shortcuts_->Keep(File2, Save1, Save1->shortcut());
  shortcuts_->Keep(File2, SaveAs1, SaveAs1->shortcut());
  shortcuts_->Keep(Pager1, Read1, Read1->shortcut());
  shortcuts_->Keep(System1, S29Mode1, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
}

void TfrmAir::SetPasswordDialog(TPasswordDlg* dialog) {
  passwordDlg_ = dialog;
}

QAction* TfrmAir::ShortcutTwin(const QAction* entry) const {
  return shortcuts_ ? shortcuts_->TwinOf(entry) : nullptr;
}

void TfrmAir::S29Mode1Click() {
  // The item is checkable; its check mark follows the mode, not the click.
  S29Mode1->setChecked(serviceMode_);
  if (busy_ || !passwordDlg_) return;
  passwordDlg_->ShowModal();
}

void TfrmAir::EnterServiceMode() {
  NormalMode1->setChecked(false);
  S29Mode1->setChecked(true);
  SetPagesShown(false);  // grpNormal, GroupBox1, grpSrc and their selectors
  if (QWidget* testMode = TestModeBox(*this)) testMode->hide();
  serviceMode_ = true;
  File1->menuAction()->setVisible(true);
  File2->menuAction()->setVisible(false);
  Read1->setVisible(false);
  lblFilename->show();
  NormalMode1->setVisible(true);  // the way back
  FocusSink();
}

void TfrmAir::NormalMode1Click() {
  if (busy_) {
    NormalMode1->setChecked(!serviceMode_);
    return;
  }
  NormalMode1->setChecked(true);
  Read1->setVisible(true);
  S29Mode1->setChecked(false);
  SetPagesShown(true);
  if (serviceMode_) {
    if (QWidget* testMode = TestModeBox(*this)) testMode->show();
  }
  serviceMode_ = false;
  File1->menuAction()->setVisible(false);
  File2->menuAction()->setVisible(true);
  lblFilename->hide();
  NormalMode1->setVisible(false);
  FocusSink();
}

// Loads a firmware file into the firmware buffer. The dialog offers the filter the configuration
// Open used last (the two share one dialog) and all files, since firmware files come as .s19,
// .s28, .mot or .srec. A file that cannot be read is reported and the firmware loaded before,
// and its name on the window, stay as they were.
void TfrmAir::Open1Click() {
  if (busy_) return;
  const QString filter = openFilter_.isEmpty()
                             ? kAllFilesFilter
                             : openFilter_ + QStringLiteral(";;") + kAllFilesFilter;
  const auto chosen = dialogs_.OpenFile(startupDirectory_, filter);
  if (!chosen) return;
  Guarded(dialogs_, [&] { LoadFirmwareFile(link_->frontend, document_.firmware, Bytes(*chosen)); });
  lblFilename->setText(Text(document_.firmware.fileName));
}

}  // namespace tuva::app
