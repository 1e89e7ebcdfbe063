#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include "app/Dialogs.h"

namespace tuva::app {
namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void QtDialogs::Message(const QString& text) {
  MessageBox(kAppTitle, text, MessageIcon::None);
}

void QtDialogs::MessageBox(const QString& caption, const QString& text, MessageIcon icon) {
  QMessageBox box(ToQt(icon), caption, text, QMessageBox::Ok, parent_);
  box.exec();
}

bool QtDialogs::YesNo(const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, parent_);
  return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtDialogs::InputText(const QString& caption, const QString& prompt,
                                            const QString& initial) {
  bool ok = false;
  QString text = QInputDialog::getText(parent_, caption, prompt, QLineEdit::Normal, initial, &ok);
  if (!ok) return std::nullopt;
  return text;
}

std::optional<QString> QtDialogs::OpenFile(const QString& directory, const QString& filter) {
  QFileDialog dialog(parent_, QString(), directory, filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtDialogs::SaveFile(const QString& directory, const QString& filter,
                                           const QString& suffix) {
  QFileDialog dialog(parent_, QString(), directory, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(suffix);  // the dialog also asks before overwriting a file
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

}  // namespace tuva::app
