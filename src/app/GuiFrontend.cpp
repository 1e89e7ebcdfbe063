#include "app/GuiFrontend.h"

#include <QCoreApplication>
#include <algorithm>

#include "app/MainWindow.h"

namespace tuva::app {

QString FromBytes(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToBytes(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

GuiFrontend::GuiFrontend(Dialogs& dialogs, QLabel* status, QProgressBar* progress, TfrmAir& window)
    : dialogs_(dialogs), status_(status), progress_(progress), window_(window) {}

void GuiFrontend::SetStatus(Status status) {
  if (status_) status_->setText(FromBytes(StatusText(status)));
}

// The bar keeps the scale it has until a phase begins.
void GuiFrontend::ShowProgress(const Progress& progress) {
  if (!progress_) return;
  if (progress.total > 0) progress_->setMaximum(static_cast<int>(progress.total));
  progress_->setValue(static_cast<int>(std::clamp<long>(progress.done, 0, progress_->maximum())));
}

void GuiFrontend::ShowMessage(const std::string& text) {
  dialogs_.Message(FromBytes(text));
}

void GuiFrontend::ShowMessageBox(const std::string& caption, const std::string& text,
                                 MessageIcon icon) {
  dialogs_.MessageBox(FromBytes(caption), FromBytes(text), icon);
}

bool GuiFrontend::AskYesNo(const std::string& caption, const std::string& text) {
  return dialogs_.YesNo(FromBytes(caption), FromBytes(text));
}

std::optional<std::string> GuiFrontend::AskText(const std::string& caption,
                                                const std::string& prompt,
                                                const std::string& initial) {
  const auto answer = dialogs_.InputText(FromBytes(caption), FromBytes(prompt), FromBytes(initial));
  if (!answer) return std::nullopt;
  return ToBytes(*answer);
}

void GuiFrontend::SetWriteEnabled(bool enabled) {
  window_.SetWriteWanted(enabled);
}

void GuiFrontend::CollectEntries() {
  window_.CollectCapcodeStrings();
}

void GuiFrontend::ImageLoaded() {
  FlagRaiser loading(window_.guards().imageLoad);
  window_.RefreshAll();
}

void GuiFrontend::ProcessEvents() {
  QCoreApplication::processEvents();
}

}  // namespace tuva::app
