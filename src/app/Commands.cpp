// The menu commands of the main window: the device operations of the Pager and System menus and
// the configuration files of the File menu.
#include <QDir>
#include <QFileInfo>

#include "app/GuiFrontend.h"
#include "app/MainWindow.h"
#include "app/PortMenu.h"
#include "app/RecentFiles.h"
#include "app/SeriesWindow.h"
#include "device/Operations.h"
#include "files/ConfigFile.h"
#include "link/CommPort.h"
#include "service/FirmwareProgramming.h"

namespace tuva::app {
namespace {

const QString kFileFilter = QStringLiteral("Text files (*.tbl)");
const QString kFileSuffix = QStringLiteral("tbl");

}  // namespace

// ---- device commands ----

void TfrmAir::SetWriteWanted(bool enabled) {
  writeWanted_ = enabled;
  Write1->setEnabled(enabled && !busy_);
}

void TfrmAir::SetCommandsEnabled(bool enabled) {
  for (QAction* action : {Open2, Save1, SaveAs1, Open1, Read1, Verify1, CompareWithBoard1,
                          CheckAgainstRecords1, CheckFirmware1, S29Mode1, NormalMode1})
    action->setEnabled(enabled);
  for (const QMenu* menu : {portMenu_->menu(), recentFiles_->menu()})
    menu->menuAction()->setEnabled(enabled);
  Write1->setEnabled(enabled && writeWanted_);
}

// One device operation at a time: the entry being typed is committed first (a refused entry stops
// the command, so the user sees the message and the value the board would get), and while the
// operation talks to the board, which processes window events between polls, the editors, the
// file commands and the other device commands are disabled, so that neither a second operation
// nor an edit of the image can start in the middle of a transfer.
bool TfrmAir::CommitPendingEntry() {
  FocusSink();
  return focusWidget() == edtNull;
}

bool TfrmAir::HoldForOperation() {
  if (busy_ || !CommitPendingEntry()) return false;
  busy_ = true;
  SetCommandsEnabled(false);
  canvas_->setEnabled(false);
  return true;
}

void TfrmAir::ReleaseAfterOperation() {
  busy_ = false;
  canvas_->setEnabled(true);
  SetCommandsEnabled(true);
  FocusSink();
  if (closeRequested_) close();
}

void TfrmAir::RunDeviceCommand(const std::function<void()>& operation) {
  if (!HoldForOperation()) return;
  Guarded(dialogs_, operation);
  ReleaseAfterOperation();
}

// A series holds the window as a device operation does, for as long as it runs; the image is
// its template as the window shows it, capcode strings included.
bool TfrmAir::BeginSeries() {
  if (!HoldForOperation()) return false;
  CollectCapcodeStrings();
  return true;
}

void TfrmAir::EndSeries() {
  ReleaseAfterOperation();
}

void TfrmAir::SeriesProgramming1Click() {
  auto* series = findChild<SeriesWindow*>();
  if (!series) {
    series = new SeriesWindow(*this, *this, dialogs_, startupDirectory_, portMenu_->menu());
    series->PlaceOnScreen();
  }
  series->show();
  series->raise();
  series->activateWindow();
}

void TfrmAir::btnReadClick() {
  RunDeviceCommand([this] {
    if (ReadConfiguration(*link_, document_).Done()) MarkUnchanged();
  });
}

// In service mode Write and Verify work on the board's program memory and the firmware file:
// Write erases, programs and verifies it, Verify only compares it.
void TfrmAir::Write1Click() {
  RunDeviceCommand([this] {
    if (serviceMode_)
      ProgramFirmware(*link_, document_);
    else if (WriteConfiguration(*link_, document_).Done())
      MarkUnchanged();
  });
}

void TfrmAir::Verify1Click() {
  RunDeviceCommand([this] {
    if (serviceMode_)
      VerifyFirmware(*link_, document_);
    else
      VerifyConfiguration(*link_, document_);
  });
}

void TfrmAir::CheckFirmware1Click() {
  RunDeviceCommand([this] { CheckFirmware(*link_); });
}

// ---- configuration files ----

void TfrmAir::CollectCapcodeStrings() {
  if (collectCapcodeStrings_) collectCapcodeStrings_();
}

void TfrmAir::Open2Click() {
  if (busy_) return;
  Guarded(dialogs_, [this] { OpenFile(!noDialog_); });
}

void TfrmAir::Save1Click() {
  if (busy_) return;
  FlagRaiser quiet(noDialog_);
  SaveAs1Click();
}

// The entry being typed is committed first, so the file holds what the window shows.
void TfrmAir::SaveAs1Click() {
  if (busy_ || !CommitPendingEntry()) return;
  Guarded(dialogs_, [this] { SaveFile(!noDialog_); });
}

namespace {
// "Open Error!" alone does not say which file: the path follows on a line of its own.
void ShowFileResult(Dialogs& dialogs, const FileResult& result, const QString& name) {
  QString text = Text(result.message);
  if (result.status == FileStatus::OpenError)
    text += QLatin1Char('\n') + QDir::toNativeSeparators(name);
  if (result.exclamation())
    dialogs.MessageBox(Text(result.caption), text, MessageIcon::Exclamation);
  else
    dialogs.Message(text);
}
}  // namespace

// The current file name is the one in the caption: it moves to a file only once that file has
// been opened or saved, so a refused Open or a failed Save As never aims the next Save elsewhere.
void TfrmAir::OpenFile(bool withDialog) {
  QString name = currentFileName_;
  if (withDialog) {
    openFilter_ = kFileFilter;  // the firmware Open offers it too
    const auto chosen = dialogs_.OpenFile(startupDirectory_, kFileFilter);
    if (!chosen) return;
    name = *chosen;
  }
  OpenNamedFile(name);
}

bool TfrmAir::OpenNamedFile(const QString& name) {
  FlagRaiser loading(guards_.imageLoad);
  const FileResult result = OpenConfigFile(Bytes(name), document_.image);
  if (!result.ok()) {
    ShowFileResult(dialogs_, result, name);
    return false;
  }
  currentFileName_ = name;
  RefreshAll();
  setWindowTitle(Text(CaptionWithFile(Bytes(windowTitle()), Bytes(name))));
  MarkUnchanged();
  // The default file of every start is not something the user chose.
  if (!startingUp_) recentFiles_->Add(name);
  return true;
}

void TfrmAir::SaveFile(bool withDialog) {
  QString name = currentFileName_;
  if (withDialog) {
    const auto chosen = dialogs_.SaveFile(QString(), startupDirectory_, kFileFilter, kFileSuffix);
    if (!chosen) return;
    name = *chosen;
  }
  const FileResult result =
      SaveConfigFile(Bytes(name), document_.image, [this] { CollectCapcodeStrings(); });
  if (!result.ok()) {
    ShowFileResult(dialogs_, result, name);
    return;
  }
  currentFileName_ = name;
  setWindowTitle(Text(CaptionWithFile(Bytes(windowTitle()), Bytes(name))));
  MarkUnchanged();
  recentFiles_->Add(name);
}

void TfrmAir::OpenPath(const QString& path) {
  if (busy_) return;
  Guarded(dialogs_, [this, &path] { OpenNamedFile(path); });
}

void TfrmAir::OpenGivenFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  const QString first = QFileInfo(paths.constFirst()).absoluteFilePath();
  const QString shown = QDir::toNativeSeparators(first);
  if (QFileInfo(first).suffix().compare(kFileSuffix, Qt::CaseInsensitive) != 0) {
    dialogs_.MessageBox(
        kAppTitle,
        QStringLiteral("%1 is not a configuration file (*.tbl); nothing is opened.").arg(shown),
        MessageIcon::Exclamation);
  } else {
    OpenPath(first);
  }
  // One window edits one image: the rest are named, so that nobody takes them for opened.
  if (paths.size() > 1) {
    QStringList others;
    for (const QString& path : paths.mid(1))
      others << QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    dialogs_.Message(
        QStringLiteral("One window edits one configuration: only the first file given, %1, is "
                       "taken.\nNot opened: %2")
            .arg(shown, others.join(QStringLiteral(", "))));
  }
}

// ---- unsaved changes ----

void TfrmAir::MarkUnchanged() {
  unchangedImage_ = document_.image;
}

bool TfrmAir::HasUnsavedChanges() {
  // The capcode strings reach the image only when they are collected, as Save would.
  CollectCapcodeStrings();
  return document_.image != unchangedImage_;
}

bool TfrmAir::MayClose() {
  if (!CommitPendingEntry()) return false;
  if (!HasUnsavedChanges()) return true;
  const QString name = currentFileName_.isEmpty() ? QStringLiteral("a new file")
                                                  : QFileInfo(currentFileName_).fileName();
  switch (
      dialogs_.AskSave(kAppTitle, QStringLiteral("Save changes to %1 before closing?").arg(name))) {
    case SaveChoice::Discard:
      return true;
    case SaveChoice::Cancel:
      return false;
    case SaveChoice::Save:
      break;
  }
  if (currentFileName_.isEmpty())
    SaveAs1Click();
  else
    Save1Click();
  return !HasUnsavedChanges();
}

}  // namespace tuva::app
